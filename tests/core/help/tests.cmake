corvane_add_test(help_tests
  ${CMAKE_CURRENT_LIST_DIR}/HelpLocationTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ManualTest.cpp
)
target_compile_definitions(help_tests PRIVATE CORVANE_MANUAL_DIR="${PROJECT_SOURCE_DIR}/resources/help")
