# corvane-cli serve against cnc-sim over a pseudo-terminal: filing, requests, a machine that
# vanishes, a stop in the middle of a program.
find_program(CORVANE_SER2NET ser2net PATHS /usr/sbin /sbin)
corvane_add_test(serve_cli_tests ${CMAKE_CURRENT_LIST_DIR}/ServeCliTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ServeNotifyTest.cpp)
target_include_directories(serve_cli_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(serve_cli_tests PRIVATE
  CNC_SIM_PATH="$<TARGET_FILE:cnc-sim>"
  CORVANE_CLI_PATH="$<TARGET_FILE:corvane-cli>"
  SER2NET_PATH="${CORVANE_SER2NET}")
add_dependencies(serve_cli_tests cnc-sim corvane-cli)
