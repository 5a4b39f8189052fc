# cmake -DBUILD_DIR=... -DPREFIX=... -DWITH_GUI=0|1 -DPAGES=a.html,b.html -DICON_SIZES=16,...
#       -P CheckInstall.cmake
# Installs BUILD_DIR into PREFIX (emptied first) and checks what a packager and a desktop rely on.

cmake_minimum_required(VERSION 3.25)

string(REPLACE "," ";" PAGES "${PAGES}")
string(REPLACE "," ";" ICON_SIZES "${ICON_SIZES}")

set(failures "")
macro(fail message)
  list(APPEND failures "${message}")
endmacro()
macro(need_file path)
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    fail("missing ${path}")
  endif()
endmacro()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}\n${err}")
endif()

set(programs corvane-cli cnc-sim)
if(WITH_GUI)
  list(APPEND programs corvane)
endif()
foreach(program ${programs})
  need_file("${PREFIX}/bin/${program}")
endforeach()

# The installed programs run from where they were put.
foreach(program corvane-cli cnc-sim)
  execute_process(COMMAND "${PREFIX}/bin/${program}" --help RESULT_VARIABLE rc
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    fail("${program} --help exited with ${rc}")
  endif()
endforeach()

# The service's unit, starting the corvane-cli that was installed with it.
set(unit "${PREFIX}/lib/systemd/system/corvane-serve@.service")
need_file("${unit}")
if(EXISTS "${unit}")
  file(READ "${unit}" unit_text)
  string(FIND "${unit_text}" "ExecStart=${PREFIX}/bin/corvane-cli serve /etc/corvane/lines/%i.ini" at)
  if(at LESS 0)
    fail("the unit does not start ${PREFIX}/bin/corvane-cli serve")
  endif()
  foreach(line "SupplementaryGroups=dialout" "Restart=on-failure" "User=corvane"
               "Documentation=man:corvane-cli(1) man:corvane-line.ini(5) file://${PREFIX}/share/doc/corvane/README.md")
    string(FIND "${unit_text}" "${line}" at)
    if(at LESS 0)
      fail("the unit lacks ${line}")
    endif()
  endforeach()
  foreach(line "Type=notify" "WatchdogSec=30" "ProtectSystem=strict" "DevicePolicy=closed"
               "DeviceAllow=char-ttyUSB rw")
    string(FIND "${unit_text}" "\n${line}\n" at)
    if(at LESS 0)
      fail("the unit lacks ${line}")
    endif()
  endforeach()
  # A line file that cannot be served is not restarted in a loop: the statuses the unit
  # names are the ones the installed program ends with for a wrong value and a missing file.
  string(REGEX MATCH "\nRestartPreventExitStatus=([0-9 ]+)\n" _ "${unit_text}")
  set(prevented "${CMAKE_MATCH_1}")
  file(WRITE "${PREFIX}/../bad-line.ini" "[Line]\nMachine=missing.MDF\nInbox=in\nLibrary=lib\nRequestDelay=soon\n")
  execute_process(COMMAND "${PREFIX}/bin/corvane-cli" serve "${PREFIX}/../bad-line.ini"
                  RESULT_VARIABLE usage_rc OUTPUT_QUIET ERROR_QUIET)
  execute_process(COMMAND "${PREFIX}/bin/corvane-cli" serve "${PREFIX}/../no-such-line.ini"
                  RESULT_VARIABLE file_rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT prevented STREQUAL "${usage_rc} ${file_rc}")
    fail("RestartPreventExitStatus=${prevented}, but serve ends with ${usage_rc} for a wrong value and ${file_rc} for a missing line file")
  endif()
  find_program(ANALYZE systemd-analyze)
  if(ANALYZE)
    # An instance, as systemctl starts it; only a syntax error or a wrong value fails here
    # (the programs it names are not where the unit says until the package is installed).
    set(instance_dir "${PREFIX}/../unit-check")
    file(REMOVE_RECURSE "${instance_dir}")
    file(MAKE_DIRECTORY "${instance_dir}")
    file(COPY_FILE "${unit}" "${instance_dir}/corvane-serve@mill1.service")
    execute_process(COMMAND "${ANALYZE}" verify "${instance_dir}/corvane-serve@mill1.service"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(err MATCHES "Unknown key|Unknown section|Invalid|Failed to parse|unknown")
      fail("systemd-analyze verify: ${err}")
    endif()
    # The hardening holds: systemd's own measure of what the service could still reach.
    execute_process(COMMAND "${ANALYZE}" security --offline=true --threshold=25
                            "${instance_dir}/corvane-serve@mill1.service"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    string(REGEX MATCH "Overall exposure level for [^:]*: ([0-9.]+)" _ "${out}")
    message(STATUS "systemd-analyze security: exposure ${CMAKE_MATCH_1}")
    if(NOT rc EQUAL 0 OR CMAKE_MATCH_1 STREQUAL "")
      fail("systemd-analyze security: exposure above 2.5 or not measured: ${out}${err}")
    endif()
  endif()
endif()

# What a packager and an administrator look for beside the programs: the documentation
# under the package's own name in lower case, the examples, the user for systemd-sysusers,
# the line template, and the man pages when scdoc built them.
foreach(path share/doc/corvane/README.md share/doc/corvane/examples/programs/BRACKET.NC
             share/doc/corvane/examples/programs/REQ.NC share/doc/corvane/copyright
             lib/sysusers.d/corvane.conf etc/corvane/line-template.ini)
  need_file("${PREFIX}/${path}")
endforeach()
if(EXISTS "${PREFIX}/share/doc/Corvane")
  fail("documentation went to share/doc/Corvane")
endif()
if(EXISTS "${BUILD_DIR}/man/man1/corvane-cli.1")
  foreach(page man1/corvane-cli.1 man1/cnc-sim.1 man5/corvane-line.ini.5)
    need_file("${PREFIX}/share/man/${page}.gz")
  endforeach()
  if(WITH_GUI)
    need_file("${PREFIX}/share/man/man1/corvane.1.gz")
  endif()
endif()

# The manual where the window program looks for it from <prefix>/bin: ../share/corvane/help.
set(help "${PREFIX}/bin/../share/corvane/help")
need_file("${help}/style.css")
foreach(page ${PAGES})
  need_file("${help}/${page}")
  need_file("${help}/ja/${page}")
endforeach()
list(LENGTH PAGES page_count)
if(page_count LESS 5)
  fail("the test was handed no page list")
endif()

if(WITH_GUI)
  set(desktop "${PREFIX}/share/applications/corvane.desktop")
  need_file("${desktop}")
  if(EXISTS "${desktop}")
    file(STRINGS "${desktop}" entry)
    if(NOT "Exec=corvane -ASK %F" IN_LIST entry)
      fail("the desktop entry does not start corvane")
    endif()
    if(NOT "Icon=corvane" IN_LIST entry)
      fail("the desktop entry names no corvane icon")
    endif()
  endif()
  find_program(VALIDATE desktop-file-validate)
  if(VALIDATE AND EXISTS "${desktop}")
    execute_process(COMMAND "${VALIDATE}" "${desktop}" RESULT_VARIABLE rc
                    OUTPUT_VARIABLE out ERROR_VARIABLE err)
    set(said "${out}${err}")
    if(NOT rc EQUAL 0 OR NOT said STREQUAL "")
      fail("desktop-file-validate: ${said}")
    endif()
  elseif(NOT VALIDATE)
    message(STATUS "desktop-file-validate not found: the desktop entry is not validated")
  endif()
  foreach(size ${ICON_SIZES})
    set(icon "${PREFIX}/share/icons/hicolor/${size}x${size}/apps/corvane.png")
    need_file("${icon}")
    if(EXISTS "${icon}")
      # A PNG of the size its folder promises: width and height stand in the IHDR chunk.
      file(READ "${icon}" header LIMIT 24 HEX)
      string(SUBSTRING "${header}" 0 16 magic)
      string(SUBSTRING "${header}" 32 8 width_hex)
      string(SUBSTRING "${header}" 40 8 height_hex)
      math(EXPR width "0x${width_hex}")
      math(EXPR height "0x${height_hex}")
      if(NOT magic STREQUAL "89504e470d0a1a0a")
        fail("${icon} is not a PNG")
      endif()
      if(NOT width EQUAL size OR NOT height EQUAL size)
        fail("${icon} is ${width}x${height}, not ${size}x${size}")
      endif()
    endif()
  endforeach()
  set(svg "${PREFIX}/share/icons/hicolor/scalable/apps/corvane.svg")
  need_file("${svg}")
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "install layout:\n  ${text}")
endif()
message(STATUS "install layout: all files in place under ${PREFIX}")
