# The taskbar notifier popup: slide geometry per taskbar edge, its state machine driven by timer messages,
# the skin shape, and a screenshot of the popup with the program's own skin.
vd_add_gtest(NAME sysinfo_notifier_test
  SOURCES notifier_slide_test.cpp notifier_window_test.cpp ${CMAKE_SOURCE_DIR}/res/common.rc
  LIBS vdsysinfo LOCKS display TIMEOUT 120)
target_include_directories(sysinfo_notifier_test PRIVATE ${CMAKE_SOURCE_DIR}/res)
