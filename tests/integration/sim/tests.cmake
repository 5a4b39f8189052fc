# The simulated machine tool, driven as a child process over its pseudo-terminal.
corvane_add_test(sim_tests
  ${CMAKE_CURRENT_LIST_DIR}/CncSimTest.cpp
)
target_compile_definitions(sim_tests PRIVATE CNC_SIM_PATH="$<TARGET_FILE:cnc-sim>")
add_dependencies(sim_tests cnc-sim)
