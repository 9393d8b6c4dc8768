# The Qt windows (vardo_ui) and the program (vardomon).
find_package(Qt6 REQUIRED COMPONENTS Widgets Svg DBus Charts)

add_library(vardo_ui STATIC
  ${CMAKE_CURRENT_LIST_DIR}/AboutBox.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ChannelDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ChannelsBox.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DesktopNotifier.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DigitFilters.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DisplayText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileNameEdit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GridView.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HelpFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HistoryCommand.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HistoryWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HostDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ImageList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MessageBox.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MuteMenu.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ParentsEdit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QuietMarks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtMessageSink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtMonitorView.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SpinEdit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TrayIcon.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WebCheckOptions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/icons/icons.qrc)
set_target_properties(vardo_ui PROPERTIES AUTOMOC ON AUTORCC ON)
target_link_libraries(vardo_ui PUBLIC vardo_app vardo_history Qt6::Widgets Qt6::DBus Qt6::Charts PRIVATE Qt6::Svg)

# The help page lives beside the program.
set(VARDO_HELP_PAGE ${CMAKE_CURRENT_LIST_DIR}/help/KsVardomon.html)

add_executable(vardomon ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
set_target_properties(vardomon PROPERTIES AUTOMOC ON)
target_link_libraries(vardomon PRIVATE vardo_ui)
target_compile_definitions(vardomon PRIVATE VARDO_VERSION="${PROJECT_VERSION}")
add_custom_command(TARGET vardomon POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VARDO_HELP_PAGE} $<TARGET_FILE_DIR:vardomon>/KsVardomon.html
  VERBATIM)

include(GNUInstallDirs)
install(TARGETS vardomon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VARDO_HELP_PAGE} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrune-vardomon)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/desktop/kestrune-vardomon.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/icons/vardomon.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME kestrune-vardomon.svg)
# Documents open from the file manager: their type, and the program's icon for them.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/desktop/kestrune-vardomon.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/icons/vardomon.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/mimetypes
        RENAME application-x-kestrune-vardomon.svg)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/desktop/example.kestrune.vardomon.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# Ping needs a raw ICMP socket where unprivileged ICMP sockets are not allowed. A staged
# install (DESTDIR: a package being built) leaves that to the package's installation.
install(CODE [[
  set(prog "${CMAKE_INSTALL_PREFIX}/bin/vardomon")
  if("$ENV{DESTDIR}" STREQUAL "")
    execute_process(COMMAND setcap cap_net_raw+ep "${prog}" RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(NOT rc EQUAL 0)
      message(STATUS "Ping needs the raw-socket capability; as root run: setcap cap_net_raw+ep ${prog}")
    else()
      message(STATUS "Gave ${prog} the raw-socket capability for ping")
    endif()
  endif()
]])

# The pictures of the documentation (scripts/screenshots.sh).
add_executable(vardomon_screenshots EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/tools/Screenshots.cpp)
target_link_libraries(vardomon_screenshots PRIVATE vardo_ui)

# Writes examples/localhost.vdm.
add_executable(vardomon_make_example EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/tools/MakeExample.cpp)
target_link_libraries(vardomon_make_example PRIVATE vardo_storage)
