vd_add_gtest(NAME os_version_test SOURCES os_version_test.cpp LIBS vdsysinfo)
