corvane_add_gui_test(sheet_gui_tests ${CMAKE_CURRENT_LIST_DIR}/MachinePropertySheetTest.cpp)
# The test class declares its slots in the .cpp file.
set_target_properties(sheet_gui_tests PROPERTIES AUTOMOC ON)
