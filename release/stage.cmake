# Run by cpack between staging the installation and packing it. Every staged
# file and folder gets the source time, which the installer stores and sets on
# the installed files. For the installer it also writes the uninstaller's
# list of what to remove, sorted: CPack's own list follows the order in which
# the file system happens to return the staged files.
execute_process(
  COMMAND find "${CPACK_TEMPORARY_INSTALL_DIRECTORY}"
    -exec touch -h -d "@${CPACK_TOLVARIN_SOURCE_TIME}" {} +
  COMMAND_ERROR_IS_FATAL ANY)

if(CPACK_GENERATOR STREQUAL "NSIS")
  # The installer's list of what it lays out, sorted, as two macros that
  # apply a given macro to each file and to each folder (deepest first).
  file(GLOB_RECURSE staged LIST_DIRECTORIES true
    RELATIVE "${CPACK_TEMPORARY_INSTALL_DIRECTORY}"
    "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
  list(SORT staged)
  set(macro [[${_MACRO}]])
  set(files "")
  set(folders "")
  foreach(path IN LISTS staged)
    string(REPLACE "/" "\\" windows_path "${path}")
    set(line "  !insertmacro ${macro} \"${windows_path}\"\n")
    if(IS_DIRECTORY "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${path}")
      string(PREPEND folders "${line}")
    else()
      string(APPEND files "${line}")
    endif()
  endforeach()
  file(WRITE "${CPACK_TOPLEVEL_DIRECTORY}/installed_files.nsh"
    "!macro ForEachInstalledFile _MACRO\n${files}!macroend\n"
    "!macro ForEachInstalledFolder _MACRO\n${folders}!macroend\n")
endif()
