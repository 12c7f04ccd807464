# The comparison against a minimal Qt program (bench/compare.sh runs it).
add_executable(tarnwick-baseline ${CMAKE_CURRENT_LIST_DIR}/baseline/main.cpp)
target_link_libraries(tarnwick-baseline PRIVATE Qt6::Widgets Qt6::SerialPort)
set_target_properties(tarnwick-baseline PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The driver talks to the X server itself and presses through XTest; without
# the X11 and XTest headers it is left out of the build.
if(TARGET tarnwick_benchlib)
  target_link_libraries(bench_perf_compare PRIVATE tarnwick_benchlib)
  add_dependencies(bench_perf_compare tarnwick tarnwick-baseline)
else()
  message(STATUS "XTest headers not found: bench_perf_compare is not built (apt-get install libxtst-dev)")
  set_target_properties(bench_perf_compare PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()

# The in-process flood runs the whole program from the test support.
if(TARGET tarnwick_testsupport)
  target_link_libraries(bench_perf_flood PRIVATE tarnwick_testsupport)
else()
  set_target_properties(bench_perf_flood PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
