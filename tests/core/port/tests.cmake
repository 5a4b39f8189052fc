corvane_add_test(port_tests
  ${CMAKE_CURRENT_LIST_DIR}/PortTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SerialTermiosTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeviceFileLineTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PosixSerialLinePtyTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PosixSerialLinePacingTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LinePacerTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AckTimingTest.cpp
)
target_include_directories(port_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
