# The history store: the writer's pace with roll-ups, a cycle with and without it, chart and
# uptime reads of generated data, and the size of the store on disk.
add_executable(bench_history ${CMAKE_CURRENT_LIST_DIR}/HistoryBench.cpp)
target_link_libraries(bench_history PRIVATE vardo_history benchmark::benchmark)
