# The man pages, written once in scdoc (packaging/man/*.scd) and built into the tree as
# build/<tree>/man/manN/PAGE.N, so that `man -M build/<tree>/man corvane-cli` reads them
# before any install; installed gzip -9n compressed to share/man/manN, as Debian wants them.
find_program(SCDOC_PROGRAM scdoc)
set(CORVANE_MAN_SOURCE ${CMAKE_CURRENT_LIST_DIR}/man)
set(CORVANE_MAN_PAGES corvane-cli.1 cnc-sim.1 corvane-line.ini.5)
if(CORVANE_WITH_GUI)
  list(APPEND CORVANE_MAN_PAGES corvane.1)
endif()
set(CORVANE_MAN_DIR ${CMAKE_BINARY_DIR}/man)

if(SCDOC_PROGRAM)
  set(corvane_man_outputs)
  foreach(page IN LISTS CORVANE_MAN_PAGES)
    string(REGEX REPLACE "^.*\\.([0-9])$" "\\1" section "${page}")
    set(roff ${CORVANE_MAN_DIR}/man${section}/${page})
    add_custom_command(OUTPUT ${roff} ${roff}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CORVANE_MAN_DIR}/man${section}
      COMMAND sh -c "'${SCDOC_PROGRAM}' < '${CORVANE_MAN_SOURCE}/${page}.scd' > '${roff}' && gzip -9n -c '${roff}' > '${roff}.gz'"
      DEPENDS ${CORVANE_MAN_SOURCE}/${page}.scd
      COMMENT "Writing the man page ${page}"
      VERBATIM)
    list(APPEND corvane_man_outputs ${roff} ${roff}.gz)
    install(FILES ${roff}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endforeach()
  add_custom_target(corvane_man ALL DEPENDS ${corvane_man_outputs})
else()
  message(WARNING "scdoc not found: the man pages are not built (scripts/install-deps.sh installs it)")
endif()
