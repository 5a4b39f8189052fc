# The Debian package, made with CPack from the install rules: scripts/package.sh runs it on a
# release tree (build/package/corvane_VERSION_ARCH.deb), the package test on the test tree.
#
#   cpack --config build/<tree>/CPackConfig.cmake -B OUTDIR
#
# The package installs under /usr (the unit to /lib/systemd/system and the line template to
# /etc/corvane, see cmake/Install.cmake), computes its library dependencies with
# dpkg-shlibdeps and carries the maintainer scripts of packaging/debian.

set(CORVANE_PACKAGE_MAINTAINER "Corvane maintainers <maintainers@corvane.example>" CACHE STRING
    "Maintainer field of the Debian package")

set(corvane_debian ${CMAKE_CURRENT_LIST_DIR}/debian)

# The changelog names the version it describes; a release that forgot it would ship a package
# whose changelog tells of another one.
file(STRINGS ${corvane_debian}/changelog corvane_changelog_head LIMIT_COUNT 1)
if(NOT corvane_changelog_head MATCHES "^corvane \\(${PROJECT_VERSION}\\) ")
  message(WARNING "packaging/debian/changelog does not start with version ${PROJECT_VERSION}: "
                  "add an entry for it before making a package")
endif()

# Debian wants both compressed with gzip -9n (no name, no time stamp), so the same text gives
# the same bytes.
set(corvane_changelog_gz ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${corvane_changelog_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND sh -c "gzip -9n -c '${corvane_debian}/changelog' > '${corvane_changelog_gz}'"
  DEPENDS ${corvane_debian}/changelog VERBATIM)
add_custom_target(corvane_changelog ALL DEPENDS ${corvane_changelog_gz})
install(FILES ${corvane_debian}/copyright ${corvane_changelog_gz} DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${CORVANE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CORVANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DNC program: sends NC programs to CNC machine tools")
set(CPACK_PACKAGE_DESCRIPTION
"Corvane sends NC part programs (G-code text) from a PC to CNC machine tools
over RS-232 and serial device servers (raw TCP, RFC 2217), and receives the
programs they punch back: leaders, % marks, DC1-DC4 codes, ISO, EIA or ASCII
on the wire, XON/XOFF, RTS/CTS or DSR/DTR flow control, all set per machine
in a machine definition file.

The package holds the desktop window corvane (Qt 6), the terminal program
corvane-cli, the simulated machine tool cnc-sim, the manual in English and
Japanese, the shop page for an MQTT broker, and the systemd unit
corvane-serve@ that serves machine lines unattended as the system user
corvane.")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# adduser for the service's user; the rest is computed from the programs' libraries.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "mosquitto, ser2net")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${corvane_debian}/postinst ${corvane_debian}/prerm ${corvane_debian}/postrm
    ${corvane_debian}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# Installed with DESTDIR and the real prefix, so that the unit is written with the path the
# programs will have (/usr/bin), not the staging folder's.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
