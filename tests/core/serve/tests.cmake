# The unattended line: what it reads out of programs, the files it keeps, and the service
# itself on a scripted line.
corvane_add_test(serve_tests
  ${CMAKE_CURRENT_LIST_DIR}/ProgramScanTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReceiveVerdictTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CompareRequestTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReceivedCompareTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ServeFilesTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DurabilityTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JournalChainTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LineServiceTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SystemdNotifierTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WatchedLineTest.cpp
)
target_include_directories(serve_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
