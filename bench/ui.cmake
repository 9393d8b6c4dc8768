# The windows with ten thousand hosts (needs the user interface).
if(TARGET vardo_ui)
  add_executable(bench_ui UiBench.cpp)
  target_link_libraries(bench_ui PRIVATE vardo_ui benchmark::benchmark)
endif()
