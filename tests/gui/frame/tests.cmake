corvane_add_gui_test(frame_tests
  ${CMAKE_CURRENT_LIST_DIR}/FrameWindowTest.cpp
)
set_target_properties(frame_tests PROPERTIES AUTOMOC ON)

# The window against cnc-sim over a pseudo-terminal.
corvane_add_gui_test(frame_line_tests
  ${CMAKE_CURRENT_LIST_DIR}/FrameLineTest.cpp
)
set_target_properties(frame_line_tests PROPERTIES AUTOMOC ON)
target_compile_definitions(frame_line_tests PRIVATE CNC_SIM_PATH="$<TARGET_FILE:cnc-sim>")
add_dependencies(frame_line_tests cnc-sim)

# Machine files chosen in the window, on the command line and by a hand-over.
corvane_add_gui_test(frame_machine_file_tests
  ${CMAKE_CURRENT_LIST_DIR}/MachineFileTest.cpp
)
set_target_properties(frame_machine_file_tests PROPERTIES AUTOMOC ON)

# The look a send takes at its files before the port opens.
corvane_add_gui_test(frame_send_check_tests
  ${CMAKE_CURRENT_LIST_DIR}/SendCheckTest.cpp
)
set_target_properties(frame_send_check_tests PROPERTIES AUTOMOC ON)
