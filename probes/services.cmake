# Service control talks to systemd over D-Bus through sd-bus.
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
target_link_libraries(vardo_probes PUBLIC PkgConfig::SYSTEMD)
