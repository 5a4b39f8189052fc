# corvane-cli send and receive against cnc-sim over a pseudo-terminal.
corvane_add_test(cli_transfer_tests ${CMAKE_CURRENT_LIST_DIR}/CliTransferTest.cpp)
target_include_directories(cli_transfer_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(cli_transfer_tests PRIVATE
  CNC_SIM_PATH="$<TARGET_FILE:cnc-sim>"
  CORVANE_CLI_PATH="$<TARGET_FILE:corvane-cli>")
add_dependencies(cli_transfer_tests cnc-sim corvane-cli)

# corvane-cli send --restart-at: the dry run, refusals, and the wire of a restart against a
# plain send of its dry-run text, over a pseudo-terminal with cnc-sim.
corvane_add_test(cli_restart_tests ${CMAKE_CURRENT_LIST_DIR}/CliRestartTest.cpp)
target_include_directories(cli_restart_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(cli_restart_tests PRIVATE
  CNC_SIM_PATH="$<TARGET_FILE:cnc-sim>"
  CORVANE_CLI_PATH="$<TARGET_FILE:corvane-cli>")
add_dependencies(cli_restart_tests cnc-sim corvane-cli)
