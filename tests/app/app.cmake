vardo_gtest(app_commands_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ApplicationTest.cpp LIBS vardo_app)
