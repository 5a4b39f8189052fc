corvane_add_gui_test(frame_tests
  ${CMAKE_CURRENT_LIST_DIR}/FrameWindowTest.cpp
)
set_target_properties(frame_tests PROPERTIES AUTOMOC ON)
