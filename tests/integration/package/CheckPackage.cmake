# cmake -DBUILD_DIR=... -DOUT=... -DSOURCE_DIR=... -DVERSION=... -DWITH_GUI=0|1 -DWITH_WEB=0|1
#       -P CheckPackage.cmake
# Makes the .deb of BUILD_DIR into OUT and checks what an administrator relies on: the files
# and where they land, the fields, the conffiles, the maintainer scripts, and lintian.

cmake_minimum_required(VERSION 3.25)

foreach(tool dpkg-deb dpkg-shlibdeps lintian)
  string(MAKE_C_IDENTIFIER "${tool}" var)
  find_program(${var} ${tool})
  if(NOT ${var})
    message(STATUS "package test skipped: ${tool} not found (scripts/install-deps.sh installs it)")
    return()
  endif()
endforeach()
get_filename_component(cmake_dir "${CMAKE_COMMAND}" DIRECTORY)
set(cpack "${cmake_dir}/cpack")

set(failures "")
macro(fail message)
  list(APPEND failures "${message}")
endmacro()

file(REMOVE_RECURSE "${OUT}")
execute_process(COMMAND "${cpack}" --config "${BUILD_DIR}/CPackConfig.cmake" -B "${OUT}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed (${rc}):\n${out}\n${err}")
endif()
file(GLOB debs "${OUT}/corvane_*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made ${count} packages named corvane_*.deb in ${OUT}: ${debs}")
endif()
list(GET debs 0 deb)
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT deb STREQUAL "${OUT}/corvane_${VERSION}_${arch}.deb")
  fail("the package is named ${deb}, not corvane_${VERSION}_${arch}.deb")
endif()

function(field name out)
  execute_process(COMMAND "${dpkg_deb}" -f "${deb}" ${name} OUTPUT_VARIABLE value
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# The control fields.
field(Package package)
field(Version version)
field(Maintainer maintainer)
field(Depends depends)
field(Description description)
if(NOT package STREQUAL "corvane")
  fail("Package: ${package}")
endif()
if(NOT version STREQUAL VERSION)
  fail("Version: ${version}, the project is ${VERSION}")
endif()
if(NOT maintainer MATCHES "^[^<]+ <[^@>]+@[^>]+>$")
  fail("Maintainer is not NAME <ADDRESS>: ${maintainer}")
endif()
# The maintainer scripts call adduser; the programs' libraries come from dpkg-shlibdeps.
set(needed adduser libc6 "libstdc\\+\\+6" libmosquitto1)
if(WITH_GUI)
  list(APPEND needed libqt6widgets6)
endif()
foreach(name IN LISTS needed)
  if(NOT depends MATCHES "(^|, )${name}( |,|$)")
    fail("Depends lacks ${name}: ${depends}")
  endif()
endforeach()
string(FIND "${description}" "\n" at)
if(at LESS 0)
  fail("the description has no long part")
endif()

# The files, and where they land.
execute_process(COMMAND "${dpkg_deb}" --contents "${deb}" OUTPUT_VARIABLE listing)
string(REGEX MATCHALL "\\./[^\n]*" paths "${listing}")
set(files "")
foreach(entry IN LISTS paths)
  string(REGEX REPLACE " -> .*$" "" entry "${entry}")
  string(SUBSTRING "${entry}" 1 -1 entry)
  list(APPEND files "${entry}")
endforeach()
set(expected
  /usr/bin/corvane-cli /usr/bin/cnc-sim
  /usr/share/man/man1/corvane-cli.1.gz /usr/share/man/man1/cnc-sim.1.gz
  /usr/share/man/man5/corvane-line.ini.5.gz
  /lib/systemd/system/corvane-serve@.service
  /usr/lib/sysusers.d/corvane.conf
  /etc/corvane/line-template.ini
  /usr/share/doc/corvane/copyright /usr/share/doc/corvane/changelog.gz
  /usr/share/doc/corvane/README.md
  /usr/share/doc/corvane/examples/machines/VMC-ISO-XONXOFF.MDF
  /usr/share/doc/corvane/examples/programs/BRACKET.NC
  /usr/share/doc/corvane/examples/programs/REQ.NC
  /usr/share/corvane/help/index.html /usr/share/corvane/help/ja/index.html
  /usr/share/corvane/help/command-line.html)
if(WITH_GUI)
  list(APPEND expected /usr/bin/corvane /usr/share/man/man1/corvane.1.gz
       /usr/share/applications/corvane.desktop
       /usr/share/icons/hicolor/48x48/apps/corvane.png
       /usr/share/icons/hicolor/scalable/apps/corvane.svg)
endif()
if(WITH_WEB)
  list(APPEND expected /usr/share/corvane/web/index.html /usr/share/corvane/web/mqtt.min.js)
endif()
foreach(path IN LISTS expected)
  if(NOT path IN_LIST files)
    fail("the package lacks ${path}")
  endif()
endforeach()
foreach(path IN LISTS files)
  if(NOT path MATCHES "^/(usr/(bin|share|lib)|lib/systemd/system|etc/corvane)(/|$)" AND
     NOT path MATCHES "^/(usr|lib|lib/systemd|etc)?/?$")
    fail("the package puts ${path} outside /usr, /lib/systemd/system and /etc/corvane")
  endif()
  if(path MATCHES "share/doc/Corvane|/usr/local")
    fail("the package holds ${path}")
  endif()
endforeach()

# The control area: conffiles cover every file in /etc, the scripts are there and sound.
set(control "${OUT}/control")
set(data "${OUT}/data")
execute_process(COMMAND "${dpkg_deb}" --control "${deb}" "${control}")
execute_process(COMMAND "${dpkg_deb}" --extract "${deb}" "${data}")
file(STRINGS "${control}/conffiles" conffiles)
foreach(path IN LISTS files)
  if(path MATCHES "^/etc/.*[^/]$" AND NOT path IN_LIST conffiles)
    fail("${path} is not a conffile")
  endif()
endforeach()
foreach(path IN LISTS conffiles)
  if(NOT path IN_LIST files)
    fail("conffile ${path} is not in the package")
  endif()
endforeach()
foreach(script postinst prerm postrm)
  set(path "${control}/${script}")
  if(NOT EXISTS "${path}")
    fail("no ${script}")
    continue()
  endif()
  file(READ "${path}" text_${script})
  execute_process(COMMAND sh -n "${path}" RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    fail("${script} is not valid sh: ${err}")
  endif()
  file(STRINGS "${path}" first LIMIT_COUNT 1)
  if(NOT first STREQUAL "#!/bin/sh" OR NOT text_${script} MATCHES "\nset -e\n")
    fail("${script} does not start with #!/bin/sh and set -e")
  endif()
endforeach()
# The scripts in the package are those of packaging/debian, whose behaviour the test
# package_maintainer_scripts checks.
foreach(script postinst prerm postrm)
  file(READ "${SOURCE_DIR}/packaging/debian/${script}" source_text)
  if(NOT source_text STREQUAL text_${script})
    fail("the package's ${script} is not packaging/debian/${script}")
  endif()
endforeach()

# The unit starts the packaged program as the packaged user, with no path of the build.
file(READ "${data}/lib/systemd/system/corvane-serve@.service" unit)
foreach(line "ExecStart=/usr/bin/corvane-cli serve /etc/corvane/lines/%i.ini" "User=corvane"
             "SupplementaryGroups=dialout" "StateDirectory=corvane"
             "file:///usr/share/doc/corvane/README.md")
  string(FIND "${unit}" "${line}" at)
  if(at LESS 0)
    fail("the unit lacks ${line}")
  endif()
endforeach()
string(FIND "${unit}" "${BUILD_DIR}" at)
if(at GREATER_EQUAL 0)
  fail("the unit names the build folder")
endif()

# lintian: no errors, and every warning one that packaging/README.md keeps with its reason.
execute_process(COMMAND "${lintian}" --no-tag-display-limit "${deb}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE said ERROR_VARIABLE err)
file(READ "${SOURCE_DIR}/packaging/README.md" notes)
string(REGEX MATCHALL "(^|\n)[EW]: corvane[^\n]*" tags "${said}")
foreach(line IN LISTS tags)
  string(STRIP "${line}" line)
  if(line MATCHES "^E: ")
    fail("lintian: ${line}")
  else()
    string(REGEX REPLACE "^W: corvane[^:]*: ([^ ]+).*" "\\1" tag "${line}")
    string(FIND "${notes}" "`${tag}`" at)
    if(at LESS 0)
      fail("lintian warning not kept in packaging/README.md: ${line}")
    endif()
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "package ${deb}:\n  ${text}")
endif()
message(STATUS "package: ${deb} holds what it should, lintian has no errors")
