# The effects of the actions: sounds through libcanberra, reboot requests to logind over
# sd-bus.
pkg_check_modules(VARDO_FX_CANBERRA REQUIRED IMPORTED_TARGET libcanberra)
pkg_check_modules(VARDO_FX_SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
target_link_libraries(vardo_platform PUBLIC PkgConfig::VARDO_FX_CANBERRA PkgConfig::VARDO_FX_SYSTEMD)
