# The network line against the real ser2net in front of the simulated machine tool.
find_program(CORVANE_SER2NET ser2net PATHS /usr/sbin /sbin)
corvane_add_test(network_ser2net_tests ${CMAKE_CURRENT_LIST_DIR}/Ser2netTest.cpp)
target_include_directories(network_ser2net_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(network_ser2net_tests PRIVATE
  CNC_SIM_PATH="$<TARGET_FILE:cnc-sim>"
  SER2NET_PATH="${CORVANE_SER2NET}")
add_dependencies(network_ser2net_tests cnc-sim)
