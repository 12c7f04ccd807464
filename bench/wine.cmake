# The Wine comparison's driver talks to the X server and presses through
# XTest, like bench_perf_compare; left out without those headers.
if(TARGET tarnwick_benchlib)
  target_link_libraries(bench_wine_compare PRIVATE tarnwick_benchlib)
else()
  set_target_properties(bench_wine_compare PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
