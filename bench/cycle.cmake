# One monitor cycle over 1,000 TCP hosts on loopback at several checks at once.
add_executable(cycle_bench ${CMAKE_CURRENT_LIST_DIR}/CycleBench.cpp)
target_link_libraries(cycle_bench PRIVATE vardo_app benchmark::benchmark)
