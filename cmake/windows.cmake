# tarnwick.exe for 64-bit Windows: the core, the Win32 backend
# (src/platform/windows) and the resources, linked statically so that the
# program imports nothing but system DLLs. ON.gif and OFF.gif go beside it
# (src/CMakeLists.txt).
enable_language(RC)

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                        _WIN32_WINNT=0x0A00 WINVER=0x0A00)
# -O2, not -O3: GCC 12 warns falsely (-Wrestrict) about std::string at -O3.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG")
add_link_options(-static -static-libgcc -static-libstdc++ $<$<CONFIG:Release,MinSizeRel>:-s>)

# The core and the backend, as on Linux (src/CMakeLists.txt), with the
# resources (manifest, icon, version) in the program.
add_subdirectory(src)
set(windows_dir ${PROJECT_SOURCE_DIR}/src/platform/windows)
configure_file(${windows_dir}/tarnwick.rc.in ${CMAKE_BINARY_DIR}/tarnwick.rc @ONLY)
target_sources(tarnwick PRIVATE ${CMAKE_BINARY_DIR}/tarnwick.rc)
set_property(SOURCE ${CMAKE_BINARY_DIR}/tarnwick.rc APPEND PROPERTY OBJECT_DEPENDS
  ${windows_dir}/tarnwick.manifest ${PROJECT_SOURCE_DIR}/assets/tarnwick.ico)

# The installer and a zip of the same files:
#   (cd build-win && cpack)  -> tarnwick-1.0-win64.exe, tarnwick-1.0-win64.zip
# The installer is a 64-bit NSIS program: it puts tarnwick.exe and the
# pictures into Program Files\Tarnwick, adds a Start-menu entry and an
# uninstaller, and lets the Users group write the settings key
# (packaging/windows/tarnwick.nsh).
install(TARGETS tarnwick RUNTIME DESTINATION .)
# tarnwick-switch.exe, the console twin for scripts and scheduled tasks, beside
# the program, with its manual page as plain text (tarnwick-switch.txt, CR LF).
install(TARGETS tarnwick-switch RUNTIME DESTINATION .)
find_program(TARNWICK_GROFF groff REQUIRED)
set(switch_page ${PROJECT_SOURCE_DIR}/packaging/tarnwick-switch.1)
file(WRITE ${CMAKE_BINARY_DIR}/switch_page.cmake [[
execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou ${PAGE} OUTPUT_VARIABLE text COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
]])
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/tarnwick-switch.txt
  COMMAND ${CMAKE_COMMAND} -DGROFF=${TARNWICK_GROFF} -DPAGE=${switch_page}
          -DOUT=${CMAKE_BINARY_DIR}/tarnwick-switch.txt -P ${CMAKE_BINARY_DIR}/switch_page.cmake
  DEPENDS ${switch_page} VERBATIM)
add_custom_target(tarnwick_switch_page ALL DEPENDS ${CMAKE_BINARY_DIR}/tarnwick-switch.txt)
install(FILES ${CMAKE_BINARY_DIR}/tarnwick-switch.txt DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/assets/ON.gif ${PROJECT_SOURCE_DIR}/assets/OFF.gif
        DESTINATION .)

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME "${TARNWICK_PRODUCT}")
set(CPACK_PACKAGE_VENDOR "${TARNWICK_COMPANY}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Switches the five ports of an MCU board over a serial line")
set(CPACK_PACKAGE_FILE_NAME tarnwick-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "${TARNWICK_PRODUCT}")
# The installer's own key, apart from the program's settings key
# (SOFTWARE\<company>\Tarnwick), which an uninstall would otherwise delete.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "${TARNWICK_PRODUCT} Installation")

set(nsh ${PROJECT_SOURCE_DIR}/packaging/windows/tarnwick.nsh)
set(CPACK_NSIS_DEFINES "Target amd64-unicode\n!include '${nsh}'")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_IGNORE_LICENSE_PAGE ON)  # no licence text to show
set(CPACK_NSIS_PACKAGE_NAME "${TARNWICK_PRODUCT}")
set(CPACK_NSIS_DISPLAY_NAME "${TARNWICK_PRODUCT} ${PROJECT_VERSION}")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/assets/tarnwick.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/assets/tarnwick.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME tarnwick.exe)
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "!insertmacro TarnwickInstall")
set(CPACK_NSIS_CREATE_ICONS_EXTRA "!insertmacro TarnwickShortcut")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "!insertmacro TarnwickRemoveShortcut")
include(CPack)

# Tests built for Windows, run under Wine by the Linux build's ctest
# (tests/wine/windows.sh, label "wine"): the unit tests that need no window,
# with GoogleTest built here from Debian's sources, and a small tool that shows
# what access the installer gave the settings key.
if(TARNWICK_TESTS)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main)
    set_property(TARGET ${lib} PROPERTY COMPILE_OPTIONS "")  # not our warnings
  endforeach()

  set(tests ${PROJECT_SOURCE_DIR}/tests)
  add_library(tarnwick_testmachine STATIC ${tests}/support/machine.cpp)
  target_include_directories(tarnwick_testmachine PUBLIC ${tests})
  target_link_libraries(tarnwick_testmachine PUBLIC tarnwick_program gtest)

  # The log writer and the common error report, with this system's clock,
  # files and code page.
  add_executable(test_persist ${tests}/persist/writelog_test.cpp)
  target_link_libraries(test_persist PRIVATE tarnwick_testmachine gtest_main)

  # The portable layer's rules, the tests Linux runs too: the settings-text
  # table, the serial property model over a scripted device, the GIF decoder,
  # the endpoint's byte rules.
  add_executable(test_portable ${tests}/platform/settings_text_test.cpp
                 ${tests}/platform/serial_model_test.cpp ${tests}/platform/gif_test.cpp
                 ${tests}/platform/endpoint_rules_test.cpp)
  target_link_libraries(test_portable PRIVATE tarnwick_program gtest_main)
  target_include_directories(test_portable PRIVATE ${tests})

  # The serial control's reader and the DCB it gives, over scripted device calls.
  add_executable(test_serial_reader ${tests}/wine/serial_reader_test.cpp)
  target_link_libraries(test_serial_reader PRIVATE tarnwick_switch gtest_main)
  target_include_directories(test_serial_reader PRIVATE ${tests})

  # The serial control alone against the board simulator (tests/wine/serial_line.sh).
  add_executable(serial_line ${tests}/wine/serial_line.cpp)
  target_link_libraries(serial_line PRIVATE tarnwick_program)
  target_include_directories(serial_line PRIVATE ${tests})

  add_executable(access ${tests}/wine/access.cpp)
  target_link_options(access PRIVATE -municode)
  target_link_libraries(access PRIVATE advapi32)

  set_target_properties(test_persist test_portable test_serial_reader serial_line access PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

  # The toolkit's windows and the clock, driven by window messages; and the
  # helper that takes the mouse capture from the running program.
  add_executable(test_win32 ${tests}/wine/win32_test.cpp)
  # oleacc is the screen reader's side: the program itself loads it only when asked.
  target_link_libraries(test_win32 PRIVATE tarnwick_program gtest_main oleacc oleaut32 ole32)
  target_include_directories(test_win32 PRIVATE ${tests})
  add_executable(take_capture ${tests}/wine/take_capture.cpp)
  target_link_options(take_capture PRIVATE -municode)
  set_target_properties(test_win32 take_capture PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

  # The window's named pipe and its timers, both ends in one process.
  add_executable(test_endpoint ${tests}/wine/endpoint_test.cpp)
  target_link_libraries(test_endpoint PRIVATE tarnwick_windows gtest_main)
  set_target_properties(test_endpoint PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
endif()

# The serial round trip that bench/wine.sh times against the baseline.
if(TARNWICK_BENCH)
  add_executable(serial-roundtrip ${PROJECT_SOURCE_DIR}/bench/serial_win32/roundtrip.cpp)
  target_link_libraries(serial-roundtrip PRIVATE tarnwick_program)
  set_target_properties(serial-roundtrip PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  # The least Win32 program doing tarnwick.exe's job, with its manifest, for
  # the start-up and press figures under Wine.
  add_executable(tarnwick-baseline WIN32 ${PROJECT_SOURCE_DIR}/bench/baseline_win32/main.cpp
                                         ${PROJECT_SOURCE_DIR}/bench/baseline_win32/baseline.rc)
  target_include_directories(tarnwick-baseline PRIVATE ${windows_dir})
  set_target_properties(tarnwick-baseline PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
