# Service control against python3-dbusmock's systemd template on a private bus.
vardo_gtest(probes_services_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ServiceControlTest.cpp
  LIBS vardo_probes
  TIMEOUT 180)

# The monitor cycle with the real ping component and service control.
vardo_gtest(probes_monitor_real_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/MonitorProbesTest.cpp
  LIBS vardo_probes
  LABELS concurrency
  TIMEOUT 180)
