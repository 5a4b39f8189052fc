corvane_add_test(receive_tests
  ${CMAKE_CURRENT_LIST_DIR}/ReceiveCheckTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReceiveEngineTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReceiveIntoFileTest.cpp
)
target_include_directories(receive_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
