corvane_add_test(strings_tests ${CMAKE_CURRENT_LIST_DIR}/StringTableTest.cpp)
