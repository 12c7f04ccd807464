# Reliability: fuzzing of the registry text, crashes and concurrent saves of
# the whole program, the serial device going away, receive floods, bad
# settings, unwritable folders and a run under valgrind.

set(reliability_dir ${CMAKE_CURRENT_SOURCE_DIR}/reliability)

# The fuzzer needs clang's libFuzzer, whatever compiler builds the rest. The
# ASan build skips it: it carries its own sanitizers.
find_program(TARNWICK_CLANGXX NAMES clang++ clang++-14)
if(TARNWICK_CLANGXX AND NOT TARNWICK_SANITIZE)
  set(fuzzer ${CMAKE_CURRENT_BINARY_DIR}/regfile_fuzzer)
  add_custom_command(
    OUTPUT ${fuzzer}
    COMMAND ${TARNWICK_CLANGXX} -std=c++20 -g -O1 -Wall -Wextra $<$<BOOL:${TARNWICK_WERROR}>:-Werror>
            -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
            -I${PROJECT_SOURCE_DIR}/src
            ${reliability_dir}/regfile_fuzz.cpp ${PROJECT_SOURCE_DIR}/src/platform/portable/regfile.cpp
            -o ${fuzzer}
    DEPENDS ${reliability_dir}/regfile_fuzz.cpp ${PROJECT_SOURCE_DIR}/src/platform/portable/regfile.cpp
            ${PROJECT_SOURCE_DIR}/src/platform/portable/regfile.h
    COMMENT "Building the registry text fuzzer with clang")
  add_custom_target(regfile_fuzz ALL DEPENDS ${fuzzer})
  add_test(NAME reliability_fuzz_regfile
           COMMAND ${reliability_dir}/fuzz.sh ${fuzzer} ${reliability_dir}/corpus 60)
  set_tests_properties(reliability_fuzz_regfile PROPERTIES LABELS "fuzz;no-asan" TIMEOUT 180)

  # The GIF decoder: any bytes, in bounded time (-timeout), a whole picture.
  set(gif_fuzzer ${CMAKE_CURRENT_BINARY_DIR}/gif_fuzzer)
  add_custom_command(
    OUTPUT ${gif_fuzzer}
    COMMAND ${TARNWICK_CLANGXX} -std=c++20 -g -O1 -Wall -Wextra $<$<BOOL:${TARNWICK_WERROR}>:-Werror>
            -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
            -I${PROJECT_SOURCE_DIR}/src
            ${reliability_dir}/gif_fuzz.cpp ${PROJECT_SOURCE_DIR}/src/platform/portable/gif.cpp
            ${PROJECT_SOURCE_DIR}/src/platform/portable/fault.cpp
            -o ${gif_fuzzer}
    DEPENDS ${reliability_dir}/gif_fuzz.cpp ${PROJECT_SOURCE_DIR}/src/platform/portable/gif.cpp
            ${PROJECT_SOURCE_DIR}/src/platform/portable/gif.h ${PROJECT_SOURCE_DIR}/src/platform/portable/fault.cpp
    COMMENT "Building the GIF decoder fuzzer with clang")
  add_custom_target(gif_fuzz ALL DEPENDS ${gif_fuzzer})
  add_test(NAME reliability_fuzz_gif
           COMMAND ${reliability_dir}/fuzz.sh ${gif_fuzzer} ${reliability_dir}/gif_corpus 60)
  set_tests_properties(reliability_fuzz_gif PROPERTIES LABELS "fuzz;no-asan" TIMEOUT 180)
endif()

# The whole program in a process of its own, for the crash, concurrency and
# valgrind tests.
add_executable(twk_helper ${reliability_dir}/twk_helper.cpp)
target_link_libraries(twk_helper PRIVATE tarnwick_program Qt6::Widgets util)
target_compile_definitions(twk_helper PRIVATE TARNWICK_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

file(GLOB reliability_sources CONFIGURE_DEPENDS ${reliability_dir}/*_test.cpp)
add_executable(test_reliability ${reliability_sources})
target_link_libraries(test_reliability PRIVATE tarnwick_testsupport)
target_compile_definitions(test_reliability PRIVATE TWK_HELPER="$<TARGET_FILE:twk_helper>")
add_dependencies(test_reliability twk_helper)

set(reliability_env "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8")
add_test(NAME reliability COMMAND test_reliability --gtest_filter=-Flood*)
set_tests_properties(reliability PROPERTIES ENVIRONMENT "${reliability_env}" TIMEOUT 300)
# The flood runs in the optimised build only: under ASan the same flood says
# nothing about the program.
add_test(NAME reliability_flood COMMAND test_reliability --gtest_filter=Flood*)
set_tests_properties(reliability_flood PROPERTIES ENVIRONMENT "${reliability_env}" TIMEOUT 120
                     LABELS "no-asan")

# Start to Exit under valgrind memcheck, the board simulator behind COM1.
find_program(TARNWICK_VALGRIND valgrind)
if(TARNWICK_VALGRIND AND NOT TARNWICK_SANITIZE AND TARGET tarnwick-board)
  add_test(NAME reliability_valgrind
           COMMAND ${reliability_dir}/valgrind.sh $<TARGET_FILE:twk_helper> $<TARGET_FILE:tarnwick-board>
                   ${PROJECT_SOURCE_DIR} ${reliability_dir}/valgrind.supp)
  set_tests_properties(reliability_valgrind PROPERTIES LABELS "valgrind;no-asan" TIMEOUT 150)
endif()
