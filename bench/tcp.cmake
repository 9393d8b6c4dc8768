# TCP probe checks per second against a loopback listener; bench/tcp_peer.sh compares
# them with the check_tcp plugin.
add_executable(tcp_bench ${CMAKE_CURRENT_LIST_DIR}/TcpBench.cpp)
target_link_libraries(tcp_bench PRIVATE vardo_probes benchmark::benchmark)
