# A second writer process for the settings store's crash and concurrency tests.
add_executable(regwriter ${CMAKE_CURRENT_SOURCE_DIR}/persist/regwriter.cpp)
target_link_libraries(regwriter PRIVATE tarnwick_program)
if(TARGET test_persist)
  add_dependencies(test_persist regwriter)
endif()
