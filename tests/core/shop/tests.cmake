# What the shop reads from users and from the broker; no broker needed.
add_executable(shop_text_tests ${CMAKE_CURRENT_LIST_DIR}/ShopTextTest.cpp)
target_link_libraries(shop_text_tests PRIVATE corvane_shop corvane_core corvane_warnings GTest::gtest GTest::gtest_main)
gtest_discover_tests(shop_text_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60 LABELS shop)

# The library listing published for the shop's pages; a temporary folder, no broker.
add_executable(library_listing_tests ${CMAKE_CURRENT_LIST_DIR}/LibraryListingTest.cpp)
target_link_libraries(library_listing_tests PRIVATE corvane_shop corvane_core corvane_warnings GTest::gtest GTest::gtest_main)
gtest_discover_tests(library_listing_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60 LABELS shop)
