# Save and load of a 100,000-host document and one monitor cycle over 100,000 hosts.
add_executable(bench_core ${CMAKE_CURRENT_LIST_DIR}/CoreBench.cpp)
target_link_libraries(bench_core PRIVATE vardo_core vardo_storage benchmark::benchmark)
