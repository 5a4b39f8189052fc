corvane_add_test(cli_settings_tests ${CMAKE_CURRENT_LIST_DIR}/CliSettingsTest.cpp)
target_compile_definitions(cli_settings_tests PRIVATE CORVANE_CLI="$<TARGET_FILE:corvane-cli>")
add_dependencies(cli_settings_tests corvane-cli)
