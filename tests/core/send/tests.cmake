corvane_add_test(send_tests
  ${CMAKE_CURRENT_LIST_DIR}/SendBlockTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SendFileCheckTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SendEngineTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SendHelpersTest.cpp
)
target_include_directories(send_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
