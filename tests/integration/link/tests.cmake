# The window program driven by other programs over its local sockets, against cnc-sim.
if(TARGET corvane)
  corvane_add_test(link_integration_tests ${CMAKE_CURRENT_LIST_DIR}/LinkIntegrationTest.cpp)
  target_include_directories(link_integration_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(link_integration_tests PRIVATE
    CNC_SIM_PATH="$<TARGET_FILE:cnc-sim>"
    CORVANE_PATH="$<TARGET_FILE:corvane>")
  add_dependencies(link_integration_tests cnc-sim corvane)
endif()
