# The shop page in Debian's chromium headless (driven by puppeteer-core, pinned by this folder's
# package-lock.json; it downloads no browser), served and fed by a private mosquitto; the push
# tests against real `corvane-cli serve` lines with cnc-sim as the machines.
if(TARGET corvane_web)
  set(web_tests_dir ${CMAKE_BINARY_DIR}/web-tests)
  set(web_tests_scripts harness.mjs page_test.mjs push_test.mjs)
  set(web_tests_outputs ${web_tests_dir}/node_modules/.package-lock.json)
  add_custom_command(OUTPUT ${web_tests_dir}/node_modules/.package-lock.json
    COMMAND ${CMAKE_COMMAND} -E make_directory ${web_tests_dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/package.json
            ${CMAKE_CURRENT_LIST_DIR}/package-lock.json ${web_tests_dir}/
    COMMAND ${NPM_PROGRAM} ci --ignore-scripts --no-audit --no-fund --prefix ${web_tests_dir}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/package-lock.json VERBATIM)
  # The scripts sit beside node_modules so that their imports resolve there.
  foreach(name IN LISTS web_tests_scripts)
    add_custom_command(OUTPUT ${web_tests_dir}/${name}
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/${name} ${web_tests_dir}/${name}
      DEPENDS ${CMAKE_CURRENT_LIST_DIR}/${name} VERBATIM)
    list(APPEND web_tests_outputs ${web_tests_dir}/${name})
  endforeach()
  add_custom_target(corvane_web_tests ALL DEPENDS ${web_tests_outputs})
  find_program(NODE_PROGRAM node)
  add_test(NAME web_page COMMAND ${NODE_PROGRAM} ${web_tests_dir}/page_test.mjs ${CMAKE_BINARY_DIR}/web)
  add_test(NAME web_push COMMAND ${NODE_PROGRAM} ${web_tests_dir}/push_test.mjs
    $<TARGET_FILE:corvane-cli> $<TARGET_FILE:cnc-sim> ${CMAKE_BINARY_DIR}/web ${CMAKE_BINARY_DIR}/screenshots)
  set_tests_properties(web_page web_push PROPERTIES LABELS web TIMEOUT 300)
endif()
