# Token manager, monitor and store registration tests, their helper programs and the benchmarks.
add_executable(token_probe token_probe.cpp)
target_link_libraries(token_probe PRIVATE vdtoken)
target_link_options(token_probe PRIVATE -municode)
add_executable(fake_browser fake_browser.cpp)
target_compile_definitions(fake_browser PRIVATE UNICODE _UNICODE)
target_link_options(fake_browser PRIVATE -municode)

add_library(vdtokentestutil STATIC token_test_util.cpp)
target_link_libraries(vdtokentestutil PUBLIC vdtestsupport vdtoken)
add_dependencies(vdtokentestutil token_probe fake_browser)

vd_add_gtest(NAME token_facts_test SOURCES facts_test.cpp LIBS vdtoken TIMEOUT 60)
vd_add_gtest(NAME token_binding_test SOURCES binding_test.cpp LIBS vdtokentestutil LOCKS certstore TIMEOUT 60)
vd_add_gtest(NAME token_registration_test SOURCES registration_test.cpp LIBS vdtokentestutil
             LOCKS certstore TIMEOUT 180)
vd_add_gtest(NAME token_manager_test SOURCES manager_test.cpp LIBS vdtokentestutil LOCKS certstore TIMEOUT 180)
vd_add_gtest(NAME token_monitor_test SOURCES monitor_test.cpp LIBS vdtokentestutil LOCKS display certstore
             TIMEOUT 60)

# Benchmarks: run by hand (they print figures), never by ctest.
add_executable(token_bench_registration bench_registration.cpp)
target_link_libraries(token_bench_registration PRIVATE vdtokentestutil)

# A module that answers with garbage on purpose, for the bad-input tests.
add_library(token_badmodule SHARED bad_module.cpp bad_module.def)
set_target_properties(token_badmodule PROPERTIES PREFIX "")
target_link_libraries(token_badmodule PRIVATE vdcommon)
target_compile_definitions(token_badmodule PRIVATE CRYPTOKI_EXPORTS)
vd_add_gtest(NAME token_badmodule_test SOURCES bad_module_test.cpp LIBS vdtokentestutil LOCKS certstore TIMEOUT 60)
add_dependencies(token_badmodule_test token_badmodule)
