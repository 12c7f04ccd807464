# Pulse length at the output pin: the real program against the firmware in
# simavr, pressed through XTest (bench/pin_pulse.sh runs it).
find_path(TARNWICK_XTEST_INCLUDE X11/extensions/XTest.h)
find_library(TARNWICK_XTEST_LIB Xtst)
find_library(TARNWICK_X11_LIB X11)
if(TARNWICK_XTEST_INCLUDE AND TARNWICK_XTEST_LIB AND TARNWICK_X11_LIB AND TARGET tarnwick-avr-board)
  target_include_directories(bench_pin_pulse PRIVATE ${TARNWICK_XTEST_INCLUDE})
  target_link_libraries(bench_pin_pulse PRIVATE ${TARNWICK_XTEST_LIB} ${TARNWICK_X11_LIB})
  add_dependencies(bench_pin_pulse tarnwick tarnwick-avr-board)
else()
  set_target_properties(bench_pin_pulse PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
