# Qt Test programs for the windows, run on the offscreen platform.
if(TARGET vardo_ui)
  find_package(Qt6 REQUIRED COMPONENTS Test)

  # vardo_qtest(name SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
  function(vardo_qtest name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    if(VARDO_TEST_LABEL_ONLY AND NOT VARDO_TEST_LABEL_ONLY IN_LIST T_LABELS)
      return()
    endif()
    add_executable(${name} ${T_SOURCES})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PRIVATE vardo_ui vardo_test_support Qt6::Test ${T_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
      set(T_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
                         ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false;XDG_DATA_HOME=${CMAKE_CURRENT_BINARY_DIR}/data/${name}")
    if(T_LABELS)
      set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
  endfunction()

  vardo_qtest(ui_dialogs_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/DialogsTest.cpp)
  vardo_qtest(ui_main_window_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/MainWindowTest.cpp)
  vardo_qtest(ui_history_window_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/HistoryWindowTest.cpp)
  # The whole program against a real TCP server on 127.0.0.1.
  vardo_qtest(ui_end_to_end_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/EndToEndTest.cpp TIMEOUT 180)
  # Find and Test in the host dialog against python3-dbusmock's systemd on a private bus.
  vardo_qtest(ui_find_service_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/FindServiceTest.cpp TIMEOUT 180)
  # Desktop notifications against python3-dbusmock's notification daemon on a private bus.
  vardo_qtest(ui_notification_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/NotificationTest.cpp)
  # The Channels list, its dialog and Send Test against a recording web service.
  vardo_qtest(ui_channels_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ChannelsBoxTest.cpp)
endif()
