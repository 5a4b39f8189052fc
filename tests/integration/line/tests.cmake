# The serial line over a real pseudo-terminal, with the simulated machine tool on the far end.
corvane_add_test(line_pty_tests
  ${CMAKE_CURRENT_LIST_DIR}/LinePtyTest.cpp
)
target_include_directories(line_pty_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(line_pty_tests PRIVATE CNC_SIM_PATH="$<TARGET_FILE:cnc-sim>")
add_dependencies(line_pty_tests cnc-sim)
