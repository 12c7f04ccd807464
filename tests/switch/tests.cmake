# tarnwick-switch as its own process against the board simulator, the
# firmware in simavr, and as tarnwick-switch.exe under Wine.
if(TARGET tarnwick-switch)
  add_test(NAME switch COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/switch/switch.sh
           $<TARGET_FILE:tarnwick-switch> $<TARGET_FILE:tarnwick-board> $<TARGET_FILE:tarnwick>)
  set_tests_properties(switch PROPERTIES LABELS e2e TIMEOUT 120 RESOURCE_LOCK pty)
  if(TARGET tarnwick-avr-board)
    add_test(NAME switch_avr COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/switch/switch.sh
             $<TARGET_FILE:tarnwick-switch> $<TARGET_FILE:tarnwick-avr-board>)
    set_tests_properties(switch_avr PROPERTIES LABELS "e2e;firmware" TIMEOUT 120 RESOURCE_LOCK pty)
  endif()
  add_test(NAME switch_wine COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/switch/switch.sh
           ${TARNWICK_WINDOWS_BUILD}/tarnwick-switch.exe $<TARGET_FILE:tarnwick-board>)
  set_tests_properties(switch_wine PROPERTIES LABELS "wine;no-asan" TIMEOUT 240 SKIP_RETURN_CODE 77
                       ENVIRONMENT TARNWICK_PROGRAM_KIND=wine RESOURCE_LOCK pty)
endif()

# A board on another machine: through ser2net (on the loopback address) and
# socat, the window and tarnwick-switch; the network dropping. Skipped when
# ser2net or socat is not installed.
if(TARGET tarnwick-switch)
  add_test(NAME remote COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/switch/remote.sh
           $<TARGET_FILE:tarnwick> $<TARGET_FILE:tarnwick-switch> $<TARGET_FILE:tarnwick-board>)
  set_tests_properties(remote PROPERTIES LABELS e2e TIMEOUT 120 RESOURCE_LOCK pty SKIP_RETURN_CODE 77)
endif()

# tarnwick-switch's line set-up against a pseudo-terminal: the stored line,
# row by row (the same rows run through the Windows serial calls under Wine).
add_executable(test_switch_line ${CMAKE_CURRENT_SOURCE_DIR}/switch/line_setup_test.cpp)
target_link_libraries(test_switch_line PRIVATE tarnwick_switch tarnwick_testsupport)
add_test(NAME switch_line COMMAND test_switch_line)
set_tests_properties(switch_line PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8"
                     TIMEOUT 120 RESOURCE_LOCK pty)

# A test lab's power daemon: Debian's pdudaemon runs tarnwick-switch for its
# HTTP requests, with the window closed and open. Skipped when pdudaemon or
# curl is not installed.
if(TARGET tarnwick-switch)
  add_test(NAME pdu COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/switch/pdu.sh
           $<TARGET_FILE:tarnwick> $<TARGET_FILE:tarnwick-switch> $<TARGET_FILE:tarnwick-board>)
  set_tests_properties(pdu PROPERTIES LABELS e2e TIMEOUT 120 RESOURCE_LOCK pty SKIP_RETURN_CODE 77)
endif()
