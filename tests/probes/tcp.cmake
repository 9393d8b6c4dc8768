# The TCP client socket and the TCP probe, against real servers on 127.0.0.1.
vardo_gtest(tcp_socket_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/TcpSocketTest.cpp LIBS vardo_probes
            LABELS concurrency)
vardo_gtest(tcp_probe_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/TcpProbeTest.cpp LIBS vardo_probes
            LABELS concurrency)
vardo_gtest(tcp_monitor_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/TcpMonitorTest.cpp LIBS vardo_probes
            LABELS concurrency)
# Host lookups that fail or hang run in a network namespace of their own (forked, so not
# under ThreadSanitizer).
vardo_gtest(tcp_lookup_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/TcpLookupTest.cpp LIBS vardo_probes)
# The HTTP client against scripted servers.
vardo_gtest(http_request_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/HttpRequestTest.cpp LIBS vardo_probes
            LABELS concurrency)
# The web check against nginx with certificates of its own.
vardo_gtest(web_check_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/WebCheckTest.cpp LIBS vardo_probes)
vardo_gtest(tls_probe_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/TlsProbeTest.cpp LIBS vardo_probes)
