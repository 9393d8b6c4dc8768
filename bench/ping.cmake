# ICMP echo round trips; bench/ping_peer.sh runs it beside fping.
add_executable(ping_bench ${CMAKE_CURRENT_LIST_DIR}/PingBench.cpp)
target_link_libraries(ping_bench PRIVATE vardo_probes benchmark::benchmark)
