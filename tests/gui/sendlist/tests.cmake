corvane_add_gui_test(fileselection_gui_tests ${CMAKE_CURRENT_LIST_DIR}/FileSelectionTest.cpp)
corvane_add_gui_test(sendlist_gui_tests ${CMAKE_CURRENT_LIST_DIR}/SendListDialogTest.cpp)
# The test classes declare their slots in the .cpp file.
set_target_properties(fileselection_gui_tests sendlist_gui_tests PROPERTIES AUTOMOC ON)
