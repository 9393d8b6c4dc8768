# ICMP echo against loopback and against hosts in network namespaces the tests create.
vardo_gtest(probes_ping_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PingTest.cpp ${CMAKE_CURRENT_LIST_DIR}/IcmpPeer.cpp
  LIBS vardo_probes
  LABELS concurrency
  TIMEOUT 180)
