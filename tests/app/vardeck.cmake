# vardeck's start-up rules, and the program itself run as a process.
vd_add_gtest(NAME app_startup_test SOURCES startup_test.cpp LIBS vdstartup)
vd_add_gtest(NAME app_vardeck_e2e_test SOURCES vardeck_e2e_test.cpp vardeck_process.cpp
             LIBS vdstartup LOCKS display certstore TIMEOUT 600)
add_dependencies(app_vardeck_e2e_test vardeck tokenctl)
# The benchmark prints figures; it is run by hand (scripts/devtest.sh builds it), not by ctest.
add_executable(app_vardeck_bench vardeck_bench.cpp vardeck_process.cpp ${CMAKE_SOURCE_DIR}/res/main.rc)
target_link_libraries(app_vardeck_bench PRIVATE vdtestsupport vdstartup psapi)
target_link_options(app_vardeck_bench PRIVATE -municode)
add_executable(app_minimal_window WIN32 minimal_window.cpp)
target_link_options(app_minimal_window PRIVATE -municode)
add_dependencies(app_vardeck_bench app_minimal_window vardeck tokenctl token_probe)
