# Installs the build into a folder of its own and checks the layout: programs, manual in both
# languages where the window program looks for it, desktop entry (validated when
# desktop-file-validate is there) and icons.
set(CORVANE_INSTALL_TEST_PAGES ${CORVANE_MANUAL_PAGES})
string(REPLACE ";" "," CORVANE_INSTALL_TEST_PAGES "${CORVANE_INSTALL_TEST_PAGES}")
add_test(NAME install_layout
  COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${CMAKE_BINARY_DIR}
    -DPREFIX=${CMAKE_BINARY_DIR}/install-test/usr
    -DWITH_GUI=$<TARGET_EXISTS:corvane>
    -DPAGES=${CORVANE_INSTALL_TEST_PAGES}
    -DICON_SIZES=16,24,32,48,64,128,256
    -P ${CMAKE_CURRENT_LIST_DIR}/CheckInstall.cmake)
set_tests_properties(install_layout PROPERTIES TIMEOUT 120 RUN_SERIAL TRUE)
