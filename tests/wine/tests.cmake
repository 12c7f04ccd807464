# The registry cases, run against the emulation here and, through run.sh,
# against advapi32 under Wine, with the two outputs compared line by line.
add_executable(registry_conformance ${CMAKE_CURRENT_SOURCE_DIR}/wine/conformance.cpp)
target_include_directories(registry_conformance PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(registry_conformance PRIVATE tarnwick_program)
# Plain C++: nothing for moc to look at.
set_target_properties(registry_conformance PROPERTIES AUTOMOC OFF)

add_test(NAME registry_conformance COMMAND registry_conformance)
set_tests_properties(registry_conformance PROPERTIES LABELS "wine" TIMEOUT 120)

# The sanitizer run skips this one: the Windows side is not built with them,
# and the emulation's side already runs there as registry_conformance.
add_test(NAME registry_conformance_wine
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/wine/run.sh
                 $<TARGET_FILE:registry_conformance> ${PROJECT_SOURCE_DIR}
                 ${CMAKE_CURRENT_BINARY_DIR}/wine $<$<BOOL:${TARNWICK_WERROR}>:-Werror>)
set_tests_properties(registry_conformance_wine PROPERTIES
  LABELS "wine;no-asan" TIMEOUT 600)

# The Windows build (scripts/build-windows, then cpack there) under Wine: its
# unit tests, pictures, quick second clicks and its installer. Skipped when
# that build is not there.
set(TARNWICK_WINDOWS_BUILD ${PROJECT_SOURCE_DIR}/build-win CACHE PATH
    "The mingw-w64 build whose tarnwick.exe the Wine tests run")
add_test(NAME windows_wine
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/wine/windows.sh ${TARNWICK_WINDOWS_BUILD}
                 $<TARGET_FILE:tarnwick-board>)
set_tests_properties(windows_wine PROPERTIES LABELS "wine;no-asan" TIMEOUT 300 RESOURCE_LOCK pty
                     SKIP_RETURN_CODE 77)

# The Windows serial control under Wine against the board simulator on a
# pseudo-terminal, with serial_line.exe from the Windows build.
add_test(NAME serial_line_wine
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/wine/serial_line.sh
                 $<TARGET_FILE:tarnwick-board> ${TARNWICK_WINDOWS_BUILD})
set_tests_properties(serial_line_wine PROPERTIES LABELS "wine;no-asan" TIMEOUT 180 RESOURCE_LOCK pty
                     SKIP_RETURN_CODE 77)
