# Shows that the core and the portable layer beneath it are standard C++: for every such source in the build's
# compile_commands.json, the flags name no Qt include path and the files it
# includes (the compiler's own list, -M) are neither Qt's nor the system's
# windows.h; and a core file that includes a Qt header does not compile. The
# Linux backend's files outside platform/linux/qt include no Qt header either.
#   cmake -DCOMPILE_COMMANDS=build/compile_commands.json -DSOURCE_DIR=. -P core_standard.cmake
cmake_minimum_required(VERSION 3.25)

file(READ "${COMPILE_COMMANDS}" json)
string(JSON count LENGTH "${json}")
# The core's folders from the top down: each may include only its own folder
# and those beneath it (tarnwick-switch, the main window, the dialog, the MCU
# link, the windows' records and the application state, the store and log).
set(core_dirs switch shell config link forms persist)
set(checked 0)
set(linux_checked 0)
set(failures "")
set(core_command "")
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  string(JSON file GET "${json}" ${i} file)
  string(JSON command GET "${json}" ${i} command)
  string(JSON directory GET "${json}" ${i} directory)
  file(RELATIVE_PATH rel "${SOURCE_DIR}/src" "${file}")
  # The Linux backend keeps Qt under platform/linux/qt: its other files are
  # POSIX. They are built with Qt's flags, so only their includes are checked.
  set(linux_posix FALSE)
  if(rel MATCHES "^platform/linux/[^/]+\\.cpp$" AND command MATCHES "tarnwick_linux\\.dir")
    set(linux_posix TRUE)
    set(folder "platform/linux")
    math(EXPR linux_checked "${linux_checked} + 1")
  else()
    # The core (the program's folders) and the portable layer beneath it.
    string(REGEX MATCH "^([a-z]+|platform/portable)/[^/]+\\.cpp$" in_core "${rel}")
    if(NOT in_core OR NOT (CMAKE_MATCH_1 IN_LIST core_dirs OR CMAKE_MATCH_1 STREQUAL "platform/portable"))
      continue()
    endif()
    set(folder "${CMAKE_MATCH_1}")
    # Only the core's, the portable layer's and tarnwick-switch's own objects
    # (tests and tools compile none of these).
    if(NOT command MATCHES "(tarnwick_core|tarnwick_portable|tarnwick_switch)\\.dir")
      continue()
    endif()
    math(EXPR checked "${checked} + 1")
  endif()
  if(NOT linux_posix AND command MATCHES "[Qq]t6")
    list(APPEND failures "${rel}: compiled with a Qt include path or definition")
  endif()
  separate_arguments(args UNIX_COMMAND "${command}")
  set(deps_args "")
  set(skip FALSE)
  foreach(a IN LISTS args)
    if(skip)
      set(skip FALSE)
    elseif(a STREQUAL "-o" OR a STREQUAL "-MT" OR a STREQUAL "-MF")
      set(skip TRUE)
    elseif(NOT (a STREQUAL "-c" OR a STREQUAL "-MD"))
      list(APPEND deps_args "${a}")
    endif()
  endforeach()
  execute_process(COMMAND ${deps_args} -M WORKING_DIRECTORY "${directory}"
                  OUTPUT_VARIABLE deps ERROR_VARIABLE error RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    list(APPEND failures "${rel}: listing its includes failed: ${error}")
  elseif(deps MATCHES "([^ \n]*([Qq]t6|/Q[A-Z][A-Za-z]*|[Ww]indows\\.h)[^ \n]*)")
    list(APPEND failures "${rel}: includes ${CMAKE_MATCH_1}")
  endif()
  # The portable layer depends on nothing above it.
  if(rel MATCHES "^platform/portable/" AND deps MATCHES "([^ \n]*/src/(switch|shell|config|link|forms|persist|platform/linux|platform/windows)/[^ \n]*)")
    list(APPEND failures "${rel}: the portable layer includes ${CMAKE_MATCH_1}")
  endif()
  # Nothing includes a folder above its own.
  list(FIND core_dirs "${folder}" rank)
  if(rank GREATER 0)
    list(SUBLIST core_dirs 0 ${rank} above)
    list(JOIN above "|" above)
    if(deps MATCHES "([^ \n]*/src/(${above})/[^ \n]*)")
      list(APPEND failures "${rel}: includes ${CMAKE_MATCH_1}, from a folder above its own")
    endif()
  endif()
  if(NOT core_command AND NOT linux_posix)
    set(core_command "${deps_args}")
    set(core_file "${file}")
    set(core_directory "${directory}")
  endif()
endforeach()

if(checked LESS 10)
  message(FATAL_ERROR "only ${checked} core sources found in ${COMPILE_COMMANDS}")
endif()

# A core file that reaches for Qt: the same flags must refuse it.
set(probe "${CMAKE_CURRENT_BINARY_DIR}/core_includes_qt.cpp")
file(WRITE "${probe}" "#include \"persist/convert.h\"\n#include <QString>\nint probe() { return 0; }\n")
list(TRANSFORM core_command REPLACE "^${core_file}$" "${probe}")
execute_process(COMMAND ${core_command} -fsyntax-only WORKING_DIRECTORY "${core_directory}"
                OUTPUT_QUIET ERROR_VARIABLE error RESULT_VARIABLE rc)
file(REMOVE "${probe}")
if(rc EQUAL 0)
  list(APPEND failures "a core file including <QString> compiled")
elseif(NOT error MATCHES "QString")
  list(APPEND failures "a core file including <QString> failed for another reason: ${error}")
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "The core is not standard C++:\n  ${text}")
endif()
message(STATUS "${checked} core sources: no Qt and no windows.h in their includes; <QString> does not compile there")
message(STATUS "${linux_checked} Linux backend sources outside platform/linux/qt: no Qt in their includes")
