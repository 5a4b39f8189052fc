corvane_add_test(support_tests
  ${CMAKE_CURRENT_LIST_DIR}/IniFileTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProfileTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PathPartsTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProfileStoreTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JsonLineTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProgramDiffTest.cpp
)
# Random input against the INI reader and the profile readers; meant to run under the
# sanitize preset as well, so it stays a few seconds long.
corvane_add_test(support_fuzz_tests
  ${CMAKE_CURRENT_LIST_DIR}/ProfileFuzzTest.cpp
)
