# The program as its own process under Xvfb, driven by X events, against the
# board simulator; and the Debian package, built, unpacked and started once.
add_test(NAME e2e COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/e2e.sh
         $<TARGET_FILE:tarnwick> $<TARGET_FILE:tarnwick-board> $<TARGET_FILE:twk_helper>)
set_tests_properties(e2e PROPERTIES LABELS e2e TIMEOUT 120)

# The same scenario against the board's firmware running in simavr.
if(TARGET tarnwick-avr-board)
  add_test(NAME e2e_avr COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/e2e.sh
           $<TARGET_FILE:tarnwick> $<TARGET_FILE:tarnwick-avr-board> $<TARGET_FILE:twk_helper>)
  set_tests_properties(e2e_avr PROPERTIES LABELS "e2e;firmware" TIMEOUT 120 RESOURCE_LOCK pty)
endif()

# Packages come from the plain build only.
if(NOT TARNWICK_SANITIZE)
  add_test(NAME package COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/package.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package PROPERTIES LABELS "package;no-asan" TIMEOUT 300)
endif()

# The same scenario against tarnwick.exe under Wine, from the Windows build
# (scripts/build-windows); skipped when that build is not there.
set(TARNWICK_WINDOWS_BUILD ${PROJECT_SOURCE_DIR}/build-win CACHE PATH
    "The mingw-w64 build whose tarnwick.exe the Wine tests run")
add_test(NAME e2e_wine COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/e2e.sh
         ${TARNWICK_WINDOWS_BUILD}/tarnwick.exe $<TARGET_FILE:tarnwick-board>
                 $<TARGET_FILE:twk_helper>)
set_tests_properties(e2e_wine PROPERTIES LABELS "wine;no-asan" TIMEOUT 240 SKIP_RETURN_CODE 77
                     ENVIRONMENT TARNWICK_PROGRAM_KIND=wine RESOURCE_LOCK pty)

# A script switching through the window that holds the port: on, off, pulse
# and init as a press does them, a pulse whose script is killed, stuck and
# foreign clients, Exit during a pulse.
if(TARGET tarnwick-switch)
  add_test(NAME owner COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/owner.sh
           $<TARGET_FILE:tarnwick> $<TARGET_FILE:tarnwick-switch> $<TARGET_FILE:tarnwick-board>
           $<TARGET_FILE:twk_helper>)
  set_tests_properties(owner PROPERTIES LABELS e2e TIMEOUT 120 RESOURCE_LOCK pty)
  add_test(NAME owner_wine COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/owner.sh
           ${TARNWICK_WINDOWS_BUILD}/tarnwick.exe ${TARNWICK_WINDOWS_BUILD}/tarnwick-switch.exe
           $<TARGET_FILE:tarnwick-board> $<TARGET_FILE:twk_helper>)
  set_tests_properties(owner_wine PROPERTIES LABELS "wine;no-asan" TIMEOUT 240 SKIP_RETURN_CODE 77
                       ENVIRONMENT TARNWICK_PROGRAM_KIND=wine RESOURCE_LOCK pty)
endif()
