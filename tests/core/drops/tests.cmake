corvane_add_test(drops_tests
  ${CMAKE_CURRENT_LIST_DIR}/DroppedFilesTest.cpp
)
