# Run by cpack between staging the installation and packing it. Every staged
# file and folder gets the source time, which the installer stores and sets on
# the installed files. For the installer it also checks the staged files
# against release/layout.json and writes their list in its order.
execute_process(
  COMMAND find "${CPACK_TEMPORARY_INSTALL_DIRECTORY}"
    -exec touch -h -d "@${CPACK_TOLVARIN_SOURCE_TIME}" {} +
  COMMAND_ERROR_IS_FATAL ANY)

if(CPACK_GENERATOR STREQUAL "NSIS")
  # The staged installation must be exactly release/layout.json, whose
  # numbers the installer's engine knows its files by. The installer gets
  # a macro that applies a given macro to each file but the uninstaller,
  # with its number, the size of the files, and their SHA-256 by number, by
  # which the uninstaller knows its own in a folder that no scope
  # registers.
  file(READ "${CPACK_TOLVARIN_LAYOUT}" layout)
  string(JSON file_count LENGTH "${layout}" files)
  string(JSON folder_count LENGTH "${layout}" folders)
  set(expected "")
  set(macro [[${_MACRO}]])
  set(files "")
  set(bytes 0)
  set(digests "")
  math(EXPR last "${file_count} - 1")
  foreach(number RANGE 1 ${last})
    string(JSON windows_path GET "${layout}" files ${number})
    string(REPLACE "\\" "/" path "${windows_path}")
    list(APPEND expected "${path}")
    file(SIZE "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${path}" size)
    math(EXPR bytes "${bytes} + ${size}")
    file(SHA256 "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${path}" digest)
    list(APPEND digests ${digest})
    string(APPEND files
      "  !insertmacro ${macro} ${number} \"${windows_path}\"\n")
  endforeach()
  math(EXPR last "${folder_count} - 1")
  foreach(index RANGE ${last})
    string(JSON windows_path GET "${layout}" folders ${index})
    string(REPLACE "\\" "/" path "${windows_path}")
    list(APPEND expected "${path}")
  endforeach()
  file(GLOB_RECURSE staged LIST_DIRECTORIES true
    RELATIVE "${CPACK_TEMPORARY_INSTALL_DIRECTORY}"
    "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
  list(SORT staged)
  list(SORT expected)
  if(NOT staged STREQUAL expected)
    message(FATAL_ERROR "The installation holds ${staged}; "
      "release/layout.json says ${expected}.")
  endif()
  # The job engine the installer carries, with the source time too.
  file(COPY "${CPACK_TOLVARIN_ENGINE_DIR}/SetupEngine.dll"
    DESTINATION "${CPACK_TOPLEVEL_DIRECTORY}/plugins")
  execute_process(
    COMMAND touch -d "@${CPACK_TOLVARIN_SOURCE_TIME}"
      "${CPACK_TOPLEVEL_DIRECTORY}/plugins/SetupEngine.dll"
    COMMAND_ERROR_IS_FATAL ANY)

  math(EXPR kib "(${bytes} + 1023) / 1024")
  list(JOIN digests " " digests)
  file(WRITE "${CPACK_TOPLEVEL_DIRECTORY}/installed_files.nsh"
    "!define INSTALLED_SIZE_KB ${kib}\n"
    "!define FILE_DIGESTS \"${digests}\"\n"
    "!macro ForEachInstalledFile _MACRO\n${files}!macroend\n")
endif()
