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
  file(GLOB_RECURSE staged LIST_DIRECTORIES true
    RELATIVE "${CPACK_TEMPORARY_INSTALL_DIRECTORY}"
    "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
  list(SORT staged)
  set(files "")
  set(folders "")
  foreach(path IN LISTS staged)
    string(REPLACE "/" "\\" windows_path "${path}")
    if(IS_DIRECTORY "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${path}")
      # Deepest first; RMDir removes a folder only when it is empty.
      string(PREPEND folders "  RMDir \"$INSTDIR\\${windows_path}\"\n")
    else()
      string(APPEND files "  Delete \"$INSTDIR\\${windows_path}\"\n")
    endif()
  endforeach()
  file(WRITE "${CPACK_TOPLEVEL_DIRECTORY}/uninstall_list.nsh"
    "${files}${folders}")
endif()
