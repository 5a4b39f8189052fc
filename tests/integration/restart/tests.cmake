# The restart header against LinuxCNC's standalone interpreter (rs274, package
# linuxcnc-uspace): every allowed restart place of a corpus of programs restores the state the
# full run has after the restart block. Skipped (77) where rs274 is not installed.
find_program(CORVANE_PYTHON3 python3)
if(CORVANE_PYTHON3)
  add_test(NAME restart_oracle
           COMMAND ${CORVANE_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/oracle.py $<TARGET_FILE:corvane-cli>)
  set_tests_properties(restart_oracle PROPERTIES TIMEOUT 900 SKIP_RETURN_CODE 77)
endif()
