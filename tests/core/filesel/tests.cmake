corvane_add_test(filesel_tests ${CMAKE_CURRENT_LIST_DIR}/FileChoiceTest.cpp)
