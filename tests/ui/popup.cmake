# The notification windows and small dialogs: notifier settings and reminder text, the Set Notifier
# dialog, the About box and the balloon window, driven in-process by messages.
vd_add_gtest(NAME ui_popup_test
  SOURCES popup_settings_test.cpp popup_dialogs_test.cpp popup_balloon_test.cpp ${CMAKE_SOURCE_DIR}/res/common.rc
  LIBS vdui LOCKS display TIMEOUT 180)
target_include_directories(ui_popup_test PRIVATE ${CMAKE_SOURCE_DIR}/res)
