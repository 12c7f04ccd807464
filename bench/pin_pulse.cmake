# Pulse length at the output pin: the real program against the firmware in
# simavr, pressed through XTest (bench/pin_pulse.sh runs it).
if(TARGET tarnwick_benchlib AND TARGET tarnwick-avr-board)
  target_link_libraries(bench_pin_pulse PRIVATE tarnwick_benchlib)
  add_dependencies(bench_pin_pulse tarnwick tarnwick-avr-board)
else()
  set_target_properties(bench_pin_pulse PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
