corvane_add_gui_test(logpane_tests ${CMAKE_CURRENT_LIST_DIR}/LogPaneTest.cpp)
corvane_add_gui_test(statusparts_tests ${CMAKE_CURRENT_LIST_DIR}/StatusPartsTest.cpp)
# The test classes declare their slots in the .cpp file.
set_target_properties(logpane_tests statusparts_tests PROPERTIES AUTOMOC ON)
