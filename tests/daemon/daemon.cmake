# vardomond as a program: its exit status, output, files and signals, and a real prometheus
# server scraping it. The monitor, the metrics server and the main loop run at once, so the
# program runs under ThreadSanitizer too.
if(TARGET vardomond)
  vardo_gtest(daemon_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/DaemonTest.cpp LIBS vardo_storage
              LABELS concurrency TIMEOUT 180)
  if(TARGET daemon_test)
    target_compile_definitions(daemon_test PRIVATE VARDOMOND="$<TARGET_FILE:vardomond>"
                               VARDOMOND_UNIT="${PROJECT_SOURCE_DIR}/daemon/vardomond@.service.in")
    add_dependencies(daemon_test vardomond)
  endif()
endif()
