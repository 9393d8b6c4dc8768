# HTTPS web checks per second against a local server; bench/web_peer.sh compares them with
# the check_http plugin.
add_executable(web_bench ${CMAKE_CURRENT_LIST_DIR}/WebBench.cpp)
target_link_libraries(web_bench PRIVATE vardo_probes benchmark::benchmark)
