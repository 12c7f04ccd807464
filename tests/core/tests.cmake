# The core (shell, link, config, persist, switch and platform's interfaces) builds
# from standard C++ alone: see core_standard.cmake.
add_test(NAME core_standard
         COMMAND ${CMAKE_COMMAND} -DCOMPILE_COMMANDS=${CMAKE_BINARY_DIR}/compile_commands.json
                 -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -P ${CMAKE_CURRENT_LIST_DIR}/core_standard.cmake)
set_tests_properties(core_standard PROPERTIES LABELS core TIMEOUT 120)
