# The board tests run the simulator program itself.
if(TARGET test_tools AND TARGET tarnwick-board)
  add_dependencies(test_tools tarnwick-board)
endif()
