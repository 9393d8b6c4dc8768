vardo_gtest(app_commands_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ApplicationTest.cpp LIBS vardo_app LABELS concurrency)
if(TARGET app_commands_test)
  # The shipped example document is checked against the tool that writes it.
  target_compile_definitions(app_commands_test PRIVATE VARDO_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endif()
