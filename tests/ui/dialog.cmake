# The main dialog in-process, with a scripted token layer.
vd_add_gtest(NAME ui_dialog_test SOURCES dialog_test.cpp ${CMAKE_SOURCE_DIR}/res/main.rc
             LIBS vdui LOCKS display certstore TIMEOUT 300)
# The same dialog with the real token manager and the simulated module, through many token cycles.
vd_add_gtest(NAME ui_token_cycles_test
             SOURCES token_cycles_test.cpp ${CMAKE_SOURCE_DIR}/tests/app/vardeck_process.cpp
                     ${CMAKE_SOURCE_DIR}/res/main.rc
             LIBS vdui psapi LOCKS display certstore TIMEOUT 1500)
target_include_directories(ui_token_cycles_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/app)
add_dependencies(ui_token_cycles_test tokenctl)
