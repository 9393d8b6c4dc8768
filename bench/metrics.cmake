# The metrics with ten thousand hosts: scrape latency against rendering in memory, and the
# monitor cycle while a client scrapes in a loop against the same cycle without scrapes.
add_executable(bench_metrics ${CMAKE_CURRENT_LIST_DIR}/MetricsBench.cpp)
target_link_libraries(bench_metrics PRIVATE vardo_metrics benchmark::benchmark)
