# The D-Bus mock fixture (DbusMock.cpp) talks to its private bus through sd-bus.
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
target_link_libraries(vardo_test_support PUBLIC PkgConfig::SYSTEMD)
