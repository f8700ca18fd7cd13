# Run by cpack after it has made the ZIP: writes the archive again from the
# staged files in sorted order, with the source time and fixed modes and no
# owner, so that it holds the same bytes from every build. CPack's own ZIP
# takes the order from the file system and the owner from the building user.
if(CPACK_GENERATOR STREQUAL "ZIP")
  execute_process(
    COMMAND "${CPACK_TOLVARIN_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/write_zip.py"
      "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" "${CPACK_PACKAGE_FILES}"
      "${CPACK_TOLVARIN_SOURCE_TIME}"
    COMMAND_ERROR_IS_FATAL ANY)
endif()
