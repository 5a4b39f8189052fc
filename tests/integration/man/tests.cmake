# The man pages say what the programs' --help says: every option, every verb with its own
# options and exit statuses, and every key of the line template.
set(corvane_man_gui "")
if(CORVANE_WITH_GUI)
  set(corvane_man_gui $<TARGET_FILE:corvane>)
endif()
add_test(NAME man_pages_cover_help
  COMMAND ${CMAKE_COMMAND}
    -DCLI=$<TARGET_FILE:corvane-cli>
    -DSIM=$<TARGET_FILE:cnc-sim>
    -DGUI=${corvane_man_gui}
    -DPAGES=${PROJECT_SOURCE_DIR}/packaging/man
    -DTEMPLATE=${PROJECT_SOURCE_DIR}/resources/systemd/line-template.ini
    -P ${CMAKE_CURRENT_LIST_DIR}/CheckManPages.cmake)
set_tests_properties(man_pages_cover_help PROPERTIES TIMEOUT 60)
