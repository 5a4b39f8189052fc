# Installing Corvane, and the files the window program needs beside it in the build tree:
# the HTML manual (English, and Japanese in ja/), the desktop entry and the icons.
#
#   cmake --install build/release --prefix /usr/local
#
# puts the programs in <prefix>/bin, the manual in <prefix>/share/corvane/help (where the
# window program looks for it: ../share/corvane/help from its own folder), the desktop entry
# in <prefix>/share/applications and the icon in <prefix>/share/icons/hicolor.

# Debian and most distributions name the documentation folder after the package, in lower
# case; GNUInstallDirs would take the project's name as written (share/doc/Corvane).
# An empty cache entry (GNUInstallDirs leaves one behind) is what it would replace, too.
if(NOT CMAKE_INSTALL_DOCDIR)
  set(CMAKE_INSTALL_DOCDIR "share/doc/corvane" CACHE PATH "Documentation folder" FORCE)
endif()
include(GNUInstallDirs)

set(CORVANE_MANUAL_SOURCE ${PROJECT_SOURCE_DIR}/resources/help)
set(CORVANE_MANUAL_PAGES
  index.html
  connect.html
  network.html
  window.html
  machine-device.html
  machine-send.html
  machine-receive.html
  machine-options.html
  property.html
  wire.html
  controls.html
  troubleshooting.html
  command-line.html
  restart.html
  shop.html
  files.html
)
set(CORVANE_MANUAL_FILES ${CORVANE_MANUAL_SOURCE}/style.css)
foreach(page ${CORVANE_MANUAL_PAGES})
  list(APPEND CORVANE_MANUAL_FILES ${CORVANE_MANUAL_SOURCE}/${page} ${CORVANE_MANUAL_SOURCE}/ja/${page})
endforeach()

set(CORVANE_ICON_SIZES 16 24 32 48 64 128 256)

install(TARGETS corvane-cli cnc-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${CORVANE_MANUAL_SOURCE}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/corvane/help)

if(TARGET corvane)
  install(TARGETS corvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/resources/corvane.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size ${CORVANE_ICON_SIZES})
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/corvane-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME corvane.png)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/corvane.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

  # The window's own icon travels inside the program, so it shows wherever the program runs.
  target_sources(corvane PRIVATE ${PROJECT_SOURCE_DIR}/resources/icons/corvane.qrc)
  set_target_properties(corvane PROPERTIES AUTORCC ON)

  # The manual beside the program in the build tree ("help/" next to the executable), so a
  # build finds it as an install does.
  set(CORVANE_MANUAL_STAMP ${CMAKE_BINARY_DIR}/corvane-manual.stamp)
  add_custom_command(
    OUTPUT ${CORVANE_MANUAL_STAMP}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CORVANE_MANUAL_SOURCE} $<TARGET_FILE_DIR:corvane>/help
    COMMAND ${CMAKE_COMMAND} -E touch ${CORVANE_MANUAL_STAMP}
    DEPENDS ${CORVANE_MANUAL_FILES}
    COMMENT "Copying the manual beside corvane"
    VERBATIM)
  add_custom_target(corvane_manual ALL DEPENDS ${CORVANE_MANUAL_STAMP})
  add_dependencies(corvane corvane_manual)
endif()

# The systemd template unit of the unattended service, with the path of corvane-cli as
# installed (also under `cmake --install --prefix`, which is why it is written at install
# time), the sysusers.d entry of its user, and the template of a line file. Systemd looks in
# <prefix>/lib/systemd/system for /usr/local; for the prefix /usr (a package) the unit, like
# the rest of Debian 12's, goes to /lib/systemd/system and the template to /etc/corvane.
set(CORVANE_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Folder for the systemd unit, relative to the install prefix (other than /usr)")
set(CORVANE_SYSTEM_UNIT_DIR "/lib/systemd/system" CACHE STRING
    "Folder for the systemd unit when the prefix is /usr")
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/resources/systemd/corvane.sysusers
        DESTINATION lib/sysusers.d RENAME corvane.conf)
install(CODE "
  set(CORVANE_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  set(CORVANE_DOCDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR}\")
  if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
    set(unit_dir \"${CORVANE_SYSTEM_UNIT_DIR}\")
    set(etc_dir \"/etc/corvane\")
  else()
    set(unit_dir \"\${CMAKE_INSTALL_PREFIX}/${CORVANE_SYSTEMD_UNIT_DIR}\")
    set(etc_dir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SYSCONFDIR}/corvane\")
  endif()
  set(unit \"\$ENV{DESTDIR}\${unit_dir}/corvane-serve@.service\")
  message(STATUS \"Installing: \${unit}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/resources/systemd/corvane-serve@.service.in\" \"\${unit}\" @ONLY)
  # file(INSTALL) puts DESTDIR in front by itself; configure_file above does not.
  file(INSTALL \"${PROJECT_SOURCE_DIR}/resources/systemd/line-template.ini\"
       DESTINATION \"\${etc_dir}\")
")
