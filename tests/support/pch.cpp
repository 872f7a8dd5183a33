// Compiles the test executables' precompiled header (tests/CMakeLists.txt); nothing of its own.
