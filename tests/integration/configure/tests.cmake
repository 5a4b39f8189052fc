# The README's by-hand build: a plain configure, no preset and no options, must build the
# window program whenever Qt 6 is present, as it is on every machine that runs this suite.
add_test(NAME plain_configure_builds_the_window
  COMMAND ${CMAKE_COMMAND}
    -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
    -DWORK_DIR=${CMAKE_BINARY_DIR}/plain-configure-test
    -DGENERATOR=${CMAKE_GENERATOR}
    -P ${CMAKE_CURRENT_LIST_DIR}/CheckPlainConfigure.cmake)
set_tests_properties(plain_configure_builds_the_window PROPERTIES TIMEOUT 120 LABELS integration)
