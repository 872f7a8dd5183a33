vd_add_gtest(NAME app_core_test SOURCES core_test.cpp LIBS vdappcore)
