# The instance link's pure parts: hand-over record, request frames, the per-user folder.
corvane_add_test(link_tests
  ${CMAKE_CURRENT_LIST_DIR}/HandOverRecordTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LinkFolderTest.cpp
)
