# Test plumbing: every test executable runs through Wine's 64-bit loader in this build tree's own prefix.
set(VD_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(VD_SCRIPTS ${CMAKE_SOURCE_DIR}/scripts)
set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINEPREFIX=${VD_WINEPREFIX} WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
    ${VD_SCRIPTS}/winerun.sh)

if(VD_TESTS AND NOT _vd_fixture_added)
  set(_vd_fixture_added ON)
  enable_testing()
  # A persistent wineserver for the whole run; every test needs it (FIXTURES_REQUIRED wine).
  add_test(NAME wine_start COMMAND ${VD_SCRIPTS}/wineprefix.sh ${VD_WINEPREFIX} start)
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  add_test(NAME wine_stop COMMAND ${VD_SCRIPTS}/wineprefix.sh ${VD_WINEPREFIX} stop)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
endif()

# vd_add_gtest(NAME n SOURCES ... [LIBS ...] [LOCKS display certstore ...] [TIMEOUT s] [GUI])
# One ctest entry per executable (one Wine process each). LOCKS serialise tests that share the X display,
# the prefix's certificate stores or anything else global.
function(vd_add_gtest)
  cmake_parse_arguments(T "GUI" "NAME;TIMEOUT" "SOURCES;LIBS;LOCKS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE vdtestsupport GTest::gtest ${T_LIBS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no)
  set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${T_TIMEOUT})
  if(T_LOCKS)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
endfunction()

# vd_check_xp_imports(TARGET): in the 32-bit build, the target's imports must all be on its reviewed list
# cmake/xp-imports/<file>.txt, or the build fails.
function(vd_check_xp_imports target)
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-imports.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:${target}>
            ${CMAKE_SOURCE_DIR}/cmake/xp-imports/$<TARGET_FILE_NAME:${target}>.txt
    VERBATIM)
endfunction()
