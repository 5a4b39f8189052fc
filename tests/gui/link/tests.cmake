corvane_add_gui_test(link_request_tests
  ${CMAKE_CURRENT_LIST_DIR}/LinkRequestTest.cpp
)
set_target_properties(link_request_tests PROPERTIES AUTOMOC ON)
