# Every page, dialog and menu of the window in both languages: no access key twice.
corvane_add_gui_test(access_keys_gui_tests ${CMAKE_CURRENT_LIST_DIR}/AccessKeysTest.cpp)
set_target_properties(access_keys_gui_tests PROPERTIES AUTOMOC ON)
