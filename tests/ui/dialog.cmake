# The main dialog in-process, with a scripted token layer.
vd_add_gtest(NAME ui_dialog_test SOURCES dialog_test.cpp ${CMAKE_SOURCE_DIR}/res/main.rc
             LIBS vdui LOCKS display certstore TIMEOUT 300)
