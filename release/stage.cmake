# Run by cpack between staging the installation and packing it. Every staged
# file and folder gets the source time, which the installer stores and sets on
# the installed files. For the installer it also writes the list of what it
# lays out, sorted: CPack's own list follows the order in which the file
# system happens to return the staged files.
execute_process(
  COMMAND find "${CPACK_TEMPORARY_INSTALL_DIRECTORY}"
    -exec touch -h -d "@${CPACK_TOLVARIN_SOURCE_TIME}" {} +
  COMMAND_ERROR_IS_FATAL ANY)

if(CPACK_GENERATOR STREQUAL "NSIS")
  # The installer's list of what it lays out, sorted, as two macros that
  # apply a given macro to each file, with its number (1 and up; 0 is the
  # uninstaller), and to each folder, deepest first; the longest path below
  # the installation folder, which bounds the folder's length; and the size
  # of the files, which the installer stages itself.
  file(GLOB_RECURSE staged LIST_DIRECTORIES true
    RELATIVE "${CPACK_TEMPORARY_INSTALL_DIRECTORY}"
    "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
  list(SORT staged)
  set(macro [[${_MACRO}]])
  set(files "")
  set(folders "")
  set(number 0)
  set(longest "")
  set(bytes 0)
  foreach(path IN LISTS staged)
    string(REPLACE "/" "\\" windows_path "${path}")
    if(IS_DIRECTORY "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${path}")
      string(PREPEND folders "  !insertmacro ${macro} \"${windows_path}\"\n")
    else()
      math(EXPR number "${number} + 1")
      file(SIZE "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${path}" size)
      math(EXPR bytes "${bytes} + ${size}")
      string(APPEND files
        "  !insertmacro ${macro} ${number} \"${windows_path}\"\n")
    endif()
    string(LENGTH "${path}" length)
    string(LENGTH "${longest}" longest_length)
    if(length GREATER longest_length)
      set(longest "${windows_path}")
    endif()
  endforeach()
  math(EXPR kib "(${bytes} + 1023) / 1024")
  file(WRITE "${CPACK_TOPLEVEL_DIRECTORY}/installed_files.nsh"
    "!define INSTALLED_SIZE_KB ${kib}\n"
    "!define LONGEST_INSTALLED_PATH \"\\${longest}\"\n"
    "!macro ForEachInstalledFile _MACRO\n${files}!macroend\n"
    "!macro ForEachInstalledFolder _MACRO\n${folders}!macroend\n")
endif()
