corvane_add_test(portlist_tests ${CMAKE_CURRENT_LIST_DIR}/SerialPortListTest.cpp)
