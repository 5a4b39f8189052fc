# The Debian package made from this tree with CPack, taken apart with dpkg-deb and checked
# with lintian. Labelled "package"; skipped when dpkg-deb, dpkg-shlibdeps or lintian is missing
# (scripts/install-deps.sh installs them).
add_test(NAME package_deb
  COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${CMAKE_BINARY_DIR}
    -DOUT=${CMAKE_BINARY_DIR}/package-test
    -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
    -DVERSION=${PROJECT_VERSION}
    -DWITH_GUI=$<TARGET_EXISTS:corvane>
    -DWITH_WEB=$<TARGET_EXISTS:corvane_web>
    -P ${CMAKE_CURRENT_LIST_DIR}/CheckPackage.cmake)
set_tests_properties(package_deb PROPERTIES
  LABELS package TIMEOUT 300 RUN_SERIAL TRUE
  SKIP_REGULAR_EXPRESSION "package test skipped")

# The maintainer scripts run under DPKG_ROOT with stand-ins for the commands that would change
# this machine: install, upgrade, remove and purge, each checked for what it leaves.
add_test(NAME package_maintainer_scripts
  COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/MaintainerScriptsTest.sh ${PROJECT_SOURCE_DIR}/packaging/debian)
set_tests_properties(package_maintainer_scripts PROPERTIES LABELS package TIMEOUT 60)
