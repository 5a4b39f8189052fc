# The network line against the real ser2net in front of the simulated machine tool.
find_program(CORVANE_SER2NET ser2net PATHS /usr/sbin /sbin)
corvane_add_test(network_ser2net_tests ${CMAKE_CURRENT_LIST_DIR}/Ser2netTest.cpp)
target_include_directories(network_ser2net_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(network_ser2net_tests PRIVATE
  CNC_SIM_PATH="$<TARGET_FILE:cnc-sim>"
  SER2NET_PATH="${CORVANE_SER2NET}")
add_dependencies(network_ser2net_tests cnc-sim)

# The same on the real clock through corvane-cli: long programs, a start code sent while the
# line opens, a server stopped under a send. Two 40 KB sends of 12 s each take a minute and more
# on a loaded computer: a limit of their own, and run alone.
add_executable(network_realclock_tests ${CMAKE_CURRENT_LIST_DIR}/Ser2netRealClockTest.cpp)
target_link_libraries(network_realclock_tests PRIVATE corvane_core corvane_warnings GTest::gtest GTest::gtest_main)
gtest_discover_tests(network_realclock_tests DISCOVERY_TIMEOUT 30
  PROPERTIES TIMEOUT 280 RUN_SERIAL TRUE)
target_include_directories(network_realclock_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(network_realclock_tests PRIVATE
  CNC_SIM_PATH="$<TARGET_FILE:cnc-sim>"
  CORVANE_CLI_PATH="$<TARGET_FILE:corvane-cli>"
  SER2NET_PATH="${CORVANE_SER2NET}")
add_dependencies(network_realclock_tests cnc-sim corvane-cli)
