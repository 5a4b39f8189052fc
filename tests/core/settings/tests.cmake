corvane_add_test(settings_tests
  ${CMAKE_CURRENT_LIST_DIR}/MachineDefTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AppConfigTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HistoryTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ConfigLocationTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProductStringsTest.cpp
)
