# The Wine comparison's driver talks to the X server and presses through
# XTest, like bench_perf_compare; left out without those headers.
if(TARNWICK_XTEST_INCLUDE AND TARNWICK_XTEST_LIB AND TARNWICK_X11_LIB)
  target_include_directories(bench_wine_compare PRIVATE ${TARNWICK_XTEST_INCLUDE})
  target_link_libraries(bench_wine_compare PRIVATE ${TARNWICK_XTEST_LIB} ${TARNWICK_X11_LIB} util)
else()
  set_target_properties(bench_wine_compare PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
