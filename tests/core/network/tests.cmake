# Network ports: the port text parser, and the network line against a scripted device server.
corvane_add_test(network_tests
  ${CMAKE_CURRENT_LIST_DIR}/PortAddressTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/NetworkLineScriptedTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HalfOpenServerTest.cpp
)
target_include_directories(network_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
