# Run by cpack after each package. After the ZIP: writes the archive again
# from the staged files in sorted order, with the source time and fixed modes
# and no owner, so that it holds the same bytes from every build (CPack's own
# ZIP takes the order from the file system and the owner from the building
# user); then the bill of materials and the symbols archive. After the
# installer, the last package: the package managers' manifests and
# SHA256SUMS, when a download location is configured.
if(CPACK_GENERATOR STREQUAL "ZIP")
  execute_process(
    COMMAND "${CPACK_TOLVARIN_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/write_zip.py"
      "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" "${CPACK_PACKAGE_FILES}"
      "${CPACK_TOLVARIN_SOURCE_TIME}"
    COMMAND_ERROR_IS_FATAL ANY)

  # Beside it, the software bill of materials of what it holds.
  execute_process(
    COMMAND "${CPACK_TOLVARIN_PYTHON}" "${CMAKE_CURRENT_LIST_DIR}/write_sbom.py"
      "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.spdx.json"
      "${CPACK_TOLVARIN_SOURCE_TIME}" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}"
      "${CPACK_TOLVARIN_COMPONENTS}" "${CPACK_PACKAGE_NAME}"
      "${CPACK_PACKAGE_VERSION}" "${CPACK_PACKAGE_VENDOR}"
    COMMAND_ERROR_IS_FATAL ANY)

  # And the symbols archive: the shipped images and their PDBs in the
  # layout of a symbol store. Not part of the ZIP or the installer.
  if(CPACK_TOLVARIN_SYMBOLS)
    execute_process(
      COMMAND "${CPACK_TOLVARIN_PYTHON}"
        "${CMAKE_CURRENT_LIST_DIR}/write_symbols.py"
        "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}-symbols.zip"
        "${CPACK_TOLVARIN_SOURCE_TIME}" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}"
        ${CPACK_TOLVARIN_SYMBOLS}
      COMMAND_ERROR_IS_FATAL ANY)
  endif()
endif()

if(CPACK_GENERATOR STREQUAL "NSIS" AND CPACK_TOLVARIN_MANIFESTS)
  execute_process(
    COMMAND "${CPACK_TOLVARIN_PYTHON}"
      "${CMAKE_CURRENT_LIST_DIR}/write_manifests.py"
      "${CPACK_TOLVARIN_MANIFESTS}" "${CPACK_PACKAGE_VERSION}"
      "${CPACK_PACKAGE_FILE_NAME}" "${CPACK_PACKAGE_DIRECTORY}"
      "${CPACK_PACKAGE_FILES}"
    COMMAND_ERROR_IS_FATAL ANY)
endif()
