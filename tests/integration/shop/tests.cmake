# The shop's broker: a private mosquitto per test, the line's sink, the shop verbs.
find_program(CORVANE_SER2NET ser2net PATHS /usr/sbin /sbin)
add_executable(shop_tests ${CMAKE_CURRENT_LIST_DIR}/ShopSinkTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ShopCliTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ShopServeTest.cpp ${CMAKE_CURRENT_LIST_DIR}/MqttLookupTest.cpp)
target_link_libraries(shop_tests PRIVATE corvane_shop corvane_core corvane_warnings GTest::gtest GTest::gtest_main)
target_include_directories(shop_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(shop_tests PRIVATE
  CNC_SIM_PATH="$<TARGET_FILE:cnc-sim>"
  CORVANE_CLI_PATH="$<TARGET_FILE:corvane-cli>"
  SER2NET_PATH="${CORVANE_SER2NET}")
add_dependencies(shop_tests cnc-sim corvane-cli)
gtest_discover_tests(shop_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 120 LABELS shop)
