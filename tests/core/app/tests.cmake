corvane_add_test(app_tests
  ${CMAKE_CURRENT_LIST_DIR}/ArgumentTokensTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StartupOptionsTest.cpp
)
