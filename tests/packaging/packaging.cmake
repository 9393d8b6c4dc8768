# The desktop entry, AppStream metadata and file type; and the .deb, built and checked from a
# Release build of its own (label "package": the slow one).
if(NOT VARDO_TEST_LABEL_ONLY)
  add_test(NAME desktop_files_test
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/desktop-files.sh ${PROJECT_SOURCE_DIR})
  set_tests_properties(desktop_files_test PROPERTIES LABELS desktop TIMEOUT 120)
endif()
if(TARGET vardomon AND (NOT VARDO_TEST_LABEL_ONLY OR VARDO_TEST_LABEL_ONLY STREQUAL "package"))
  set(VARDO_PACKAGED_PROGRAMS vardomon)
  if(TARGET vardomond)
    list(APPEND VARDO_PACKAGED_PROGRAMS vardomond)
  endif()
  add_test(NAME package_deb_test
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/check-deb.sh ${PROJECT_SOURCE_DIR}
                   ${CMAKE_BINARY_DIR}/package-check ${CMAKE_CXX_COMPILER} ${VARDO_PACKAGED_PROGRAMS})
  # It builds with both cores itself.
  set_tests_properties(package_deb_test PROPERTIES LABELS package TIMEOUT 1800 RUN_SERIAL ON)
endif()
