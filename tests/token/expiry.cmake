# The expiry warning: day arithmetic and the check loop (the dialog replaced), then the real dialog driven
# from a second thread.
add_library(vdexpirytestutil STATIC expiry_test_util.cpp expiry_screenshot.cpp)
target_link_libraries(vdexpirytestutil PUBLIC vdtestsupport vdtoken gdi32)

vd_add_gtest(NAME expiry_days_test SOURCES expiry_days_test.cpp LIBS vdexpirytestutil TIMEOUT 60)
vd_add_gtest(NAME expiry_dialog_test SOURCES expiry_dialog_test.cpp expiry_test.rc LIBS vdexpirytestutil
             LOCKS display TIMEOUT 120)
target_include_directories(expiry_dialog_test PRIVATE ${CMAKE_SOURCE_DIR}/res)
