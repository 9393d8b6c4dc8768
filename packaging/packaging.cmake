# The Debian package: `cpack -G DEB` in a build folder packs what the install rules install
# (the program, and the daemon where it is built) with its dependencies from dpkg-shlibdeps.
include(GNUInstallDirs)

set(VARDO_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kestrune-vardomon)
# Compressed as Debian keeps them: no name, no time stamp.
foreach(page changelog vardomon.1)
  execute_process(COMMAND gzip -9nc ${CMAKE_CURRENT_LIST_DIR}/${page}
                  OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/${page})
endforeach()
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/copyright
              ${PROJECT_SOURCE_DIR}/docs/ping-permissions.md
        DESTINATION ${VARDO_DOC_DIR})
if(TARGET vardomon)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vardomon.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrune-vardomon)
set(CPACK_PACKAGE_VENDOR "Kestrune")
set(CPACK_PACKAGE_CONTACT "Kestrune Vardomon developers <vardomon@kestrune.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop network monitor")
# The synopsis is the summary above; this is the text under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kestrune Vardomon watches a list of hosts (TCP checks, ICMP ping, and
whether a systemd service runs) and tells when one goes down or comes back
up: a message box and a desktop notification, a sound, a command, net
messages and an e-mail. A tray icon shows the worst state of all hosts.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# setcap for the postinst.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin")
# Net messages go through smbclient, notifications to the desktop's notification service.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "smbclient")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
# Staged through DESTDIR, so install steps can tell a package's staging from a real install;
# installed under /usr whatever prefix the build folder has.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
include(CPack)
