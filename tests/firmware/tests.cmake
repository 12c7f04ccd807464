# The firmware's command reader on the host; the firmware itself in simavr runs
# in the end-to-end scenario (tests/e2e/tests.cmake).
add_executable(test_firmware ${CMAKE_CURRENT_LIST_DIR}/command_test.cpp)
target_link_libraries(test_firmware PRIVATE tarnwick_firmware_command GTest::gtest GTest::gtest_main)
set_target_properties(test_firmware PROPERTIES AUTOMOC OFF AUTOUIC OFF)
add_test(NAME firmware COMMAND test_firmware)
set_tests_properties(firmware PROPERTIES LABELS firmware TIMEOUT 60)
