# What the shop reads from users and from the broker; no broker needed.
add_executable(shop_text_tests ${CMAKE_CURRENT_LIST_DIR}/ShopTextTest.cpp)
target_link_libraries(shop_text_tests PRIVATE corvane_shop corvane_core corvane_warnings GTest::gtest GTest::gtest_main)
gtest_discover_tests(shop_text_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60 LABELS shop)
