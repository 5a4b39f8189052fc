corvane_add_gui_test(property_dialog_gui_tests ${CMAKE_CURRENT_LIST_DIR}/PropertyDialogTest.cpp)
corvane_add_gui_test(about_box_gui_tests ${CMAKE_CURRENT_LIST_DIR}/AboutBoxTest.cpp)
corvane_add_gui_test(history_drop_gui_tests ${CMAKE_CURRENT_LIST_DIR}/HistoryDropTest.cpp)
# The test classes declare their slots in the .cpp file.
set_target_properties(property_dialog_gui_tests about_box_gui_tests history_drop_gui_tests
  PROPERTIES AUTOMOC ON)
# The about box shows the program's icon, which only the executable carries.
target_compile_definitions(about_box_gui_tests PRIVATE
  CORVANE_ICON_DIR="${PROJECT_SOURCE_DIR}/resources/icons")
