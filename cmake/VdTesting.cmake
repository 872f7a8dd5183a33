# Test plumbing: every test executable runs through Wine's 64-bit loader, in a lane of the run (see
# scripts/lanes.sh): lane 0 is this build tree's own prefix.
set(VD_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(VD_SCRIPTS ${CMAKE_SOURCE_DIR}/scripts)
set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINEPREFIX=${VD_WINEPREFIX} WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
    ${VD_SCRIPTS}/winerun.sh)
# Lanes: tests that hold a display, the user's stores or the installation key run this many at once.
set(VD_TEST_LANES 3 CACHE STRING "Lanes (display + Wine prefix) for the tests that need one to themselves")
# The lanes ctest hands out. The build names the file to ctest itself (below), so a plain ctest in the tree
# uses the lanes too.
set(VD_LANES_FILE ${CMAKE_BINARY_DIR}/lanes.json)

if(VD_TESTS AND NOT _vd_fixture_added)
  set(_vd_fixture_added ON)
  enable_testing()
  set(_lanes "")
  math(EXPR _last "${VD_TEST_LANES} - 1")
  foreach(i RANGE ${_last})
    list(APPEND _lanes "{\"id\": \"${i}\", \"slots\": 1}")
  endforeach()
  list(JOIN _lanes ", " _lanes)
  file(WRITE ${VD_LANES_FILE}
       "{\"version\": {\"major\": 1, \"minor\": 0}, \"local\": [{\"lanes\": [${_lanes}]}]}\n")
  set(CTEST_RESOURCE_SPEC_FILE ${VD_LANES_FILE})
  # The lanes' displays, prefixes and persistent wineservers for the whole run; every test needs them
  # (FIXTURES_REQUIRED wine).
  add_test(NAME wine_start COMMAND ${VD_SCRIPTS}/lanes.sh ${CMAKE_BINARY_DIR} start ${VD_TEST_LANES})
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  add_test(NAME wine_stop COMMAND ${VD_SCRIPTS}/lanes.sh ${CMAKE_BINARY_DIR} stop)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 120)
endif()

# vd_test_lane(TEST): the test runs alone in a lane: no other test uses its display, its prefix's
# certificate stores or its installation key meanwhile.
function(vd_test_lane test)
  set_tests_properties(${test} PROPERTIES RESOURCE_GROUPS "lanes:1")
  set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "VD_NEEDS_LANE=1")
endfunction()

# vd_add_gtest(NAME n SOURCES ... [LIBS ...] [LOCKS display certstore ...] [TIMEOUT s] [COST s] [LABELS ...])
# One ctest entry per executable (one Wine process each). LOCKS name the shared state the test touches (the
# X display, the prefix's certificate stores, the installed origin list): such a test gets a lane. COST,
# about the seconds it takes, starts the long ones first when ctest has no times of its own yet (a fresh
# tree), so that no long test is left to run alone at the end.
function(vd_add_gtest)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;COST" "SOURCES;LIBS;LOCKS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE vdtestsupport GTest::gtest ${T_LIBS})
  target_precompile_headers(${T_NAME} REUSE_FROM vdtestpch)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no)
  set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${T_TIMEOUT})
  if(T_LOCKS)
    vd_test_lane(${T_NAME})
  endif()
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
  if(T_COST)
    set_tests_properties(${T_NAME} PROPERTIES COST ${T_COST})
  endif()
endfunction()

# vd_add_soak(NAME n TARGET t ENV VAR=value... [TIMEOUT s]): the test executable t once more, as a soak (label
# soak: left out of the test command, run after it by CI), in a lane of its own, with the environment that
# makes it run long.
function(vd_add_soak)
  cmake_parse_arguments(S "" "NAME;TARGET;TIMEOUT" "ENV" ${ARGN})
  if(NOT S_TIMEOUT)
    set(S_TIMEOUT 1800)
  endif()
  add_test(NAME ${S_NAME} COMMAND ${S_TARGET} --gtest_color=no)
  set_tests_properties(${S_NAME} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${S_TIMEOUT} LABELS soak
                       ENVIRONMENT "${S_ENV}")
  vd_test_lane(${S_NAME})
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
