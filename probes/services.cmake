# Service control talks to systemd over D-Bus through sd-bus.
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
target_link_libraries(vardo_probes PUBLIC PkgConfig::SYSTEMD)
# The machine's system bus (local, or over SSH) is opened the same way as for reboots.
target_link_libraries(vardo_probes PUBLIC vardo_platform)
