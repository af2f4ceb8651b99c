# Run by `cmake --install`: writes the desktop entry for the prefix being installed to and
# installs it. Set by the caller: KPV_DESKTOP_TEMPLATE, KPV_DESKTOP_OUTPUT, KPV_BINDIR,
# KPV_DATADIR, KPV_MIME_TYPES.
set(kpv_bin "${CMAKE_INSTALL_PREFIX}/${KPV_BINDIR}/kestrane-viewer")
# The Exec key holds the path as one argument. A path with none of the entry format's reserved
# characters is written bare: the generic opener of desktops without a session of their own takes
# the key's first word as the program's name, quotes and all, and ran nothing for a quoted one.
# Otherwise it is quoted: inside the quotes ", `, $ and \ take a backslash, then the entry format
# doubles every backslash once more. A percent sign is written twice either way.
string(REPLACE "%" "%%" kpv_exec "${kpv_bin}")
if(kpv_bin MATCHES "[] \t\n\"'\\><~|&;$*?#()`[]")
  string(REPLACE "\\" "\\\\" kpv_exec "${kpv_exec}")
  string(REPLACE "\"" "\\\"" kpv_exec "${kpv_exec}")
  string(REPLACE "`" "\\`" kpv_exec "${kpv_exec}")
  string(REPLACE "$" "\\$" kpv_exec "${kpv_exec}")
  string(REPLACE "\\" "\\\\" kpv_exec "${kpv_exec}")
  set(kpv_exec "\"${kpv_exec}\"")
endif()
set(KPV_DESKTOP_EXEC "${kpv_exec}")
set(KPV_TRY_EXEC "${kpv_bin}")
configure_file("${KPV_DESKTOP_TEMPLATE}" "${KPV_DESKTOP_OUTPUT}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${KPV_DATADIR}/applications" TYPE FILE FILES "${KPV_DESKTOP_OUTPUT}")
# A direct install tells the desktop's menus at once; a staged one (DESTDIR, a package) leaves
# that to the package manager.
if("$ENV{DESTDIR}" STREQUAL "")
  find_program(kpv_update_desktop update-desktop-database)
  if(kpv_update_desktop)
    execute_process(COMMAND "${kpv_update_desktop}" -q "${CMAKE_INSTALL_PREFIX}/${KPV_DATADIR}/applications"
                    RESULT_VARIABLE kpv_ignored OUTPUT_QUIET ERROR_QUIET)
  endif()
endif()
