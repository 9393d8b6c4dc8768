vardo_gtest(core_types_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ServerDocTest.cpp LIBS vardo_core)
