# The shop page: static files plus MQTT.js's browser bundle, which `npm ci` fetches from the
# version pinned in package-lock.json at build time, so the browser fetches nothing from the
# internet. The page lands in the build tree (for the tests) and in share/corvane/web/.
find_program(NPM_PROGRAM npm)
set(CORVANE_WEB_DIR ${CMAKE_BINARY_DIR}/web)
set(CORVANE_WEB_FILES index.html app.js style.css)
set(corvane_web_outputs)
foreach(name IN LISTS CORVANE_WEB_FILES)
  add_custom_command(OUTPUT ${CORVANE_WEB_DIR}/${name}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/${name} ${CORVANE_WEB_DIR}/${name}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/${name} VERBATIM)
  list(APPEND corvane_web_outputs ${CORVANE_WEB_DIR}/${name})
endforeach()
if(NPM_PROGRAM)
  add_custom_command(OUTPUT ${CORVANE_WEB_DIR}/mqtt.min.js
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CORVANE_WEB_DIR}/npm
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/package.json
            ${CMAKE_CURRENT_LIST_DIR}/package-lock.json ${CORVANE_WEB_DIR}/npm/
    COMMAND ${NPM_PROGRAM} ci --ignore-scripts --no-audit --no-fund --prefix ${CORVANE_WEB_DIR}/npm
    COMMAND ${CMAKE_COMMAND} -E copy ${CORVANE_WEB_DIR}/npm/node_modules/mqtt/dist/mqtt.min.js
            ${CORVANE_WEB_DIR}/mqtt.min.js
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/package-lock.json VERBATIM)
  list(APPEND corvane_web_outputs ${CORVANE_WEB_DIR}/mqtt.min.js)
  add_custom_target(corvane_web ALL DEPENDS ${corvane_web_outputs})
  install(FILES ${corvane_web_outputs} DESTINATION ${CMAKE_INSTALL_DATADIR}/corvane/web)
else()
  message(WARNING "npm not found: the shop page is not built (scripts/install-deps.sh installs it)")
endif()
