corvane_add_test(codes_tests
  ${CMAKE_CURRENT_LIST_DIR}/SkipFilterTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TapeCodeTableTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TapeCharTest.cpp
)
# Test-support headers are included as "support/...", from the tests folder.
target_include_directories(codes_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../..)
