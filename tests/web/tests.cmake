# The shop page in Debian's chromium headless, served and fed by a private mosquitto.
if(TARGET corvane_web)
  add_test(NAME web_page COMMAND ${CMAKE_CURRENT_LIST_DIR}/page_test.sh ${CMAKE_BINARY_DIR}/web)
  set_tests_properties(web_page PROPERTIES LABELS web TIMEOUT 300)
endif()
