# `cpack` in the Windows build folder makes the release packages in
# <build>/package/: a ZIP of the installation and a 64-bit NSIS installer that
# lays out the same files. Both hold the same bytes from every build of a
# commit (release/stage.cmake, release/zip.cmake).
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR ${LAUNCHER_COMPANY_NAME})
# All four parts, as the version record has them.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}-win64")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
# The default installation, without the sdk component, in one piece.
set(CPACK_MONOLITHIC_INSTALL ON)
# Values reach CPack and the installer script exactly as set here.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGE_INSTALL_DIRECTORY ${PROJECT_NAME})
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY ${PROJECT_NAME})

find_program(TOLVARIN_PYTHON python3 HINTS /usr/bin REQUIRED)

# THIRD-PARTY-NOTICES.txt in the installation: what the linker put into the
# shipped images from the toolchain, read from their link maps, with the
# version and copyright file of the Debian package each part came from.
set(notices ${CMAKE_BINARY_DIR}/THIRD-PARTY-NOTICES.txt)
set(TOLVARIN_COMPONENTS ${CMAKE_BINARY_DIR}/release/components.json)
get_property(maps GLOBAL PROPERTY TOLVARIN_LINK_MAPS)
get_property(mapped GLOBAL PROPERTY TOLVARIN_MAPPED_TARGETS)
set(compiler ${CMAKE_CXX_COMPILER})
if(CMAKE_CXX_COMPILER_TARGET)
  list(APPEND compiler --target=${CMAKE_CXX_COMPILER_TARGET})
endif()
add_custom_command(OUTPUT ${notices} ${TOLVARIN_COMPONENTS}
  COMMAND ${TOLVARIN_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/notices.py
    ${notices} ${TOLVARIN_COMPONENTS} ${compiler} -- ${maps}
  DEPENDS ${mapped} ${CMAKE_CURRENT_LIST_DIR}/notices.py
  COMMENT "Listing the third-party components of the shipped images"
  VERBATIM)
add_custom_target(notices ALL DEPENDS ${notices})
install(FILES ${notices} DESTINATION .)
set(CPACK_TOLVARIN_COMPONENTS ${TOLVARIN_COMPONENTS})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/stage.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/zip.cmake)
set(CPACK_TOLVARIN_SOURCE_TIME ${TOLVARIN_SOURCE_TIME})
set(CPACK_TOLVARIN_PYTHON ${TOLVARIN_PYTHON})
# Each shipped image, as installed, with the PDB the build wrote for it; only
# the clang and lld build writes PDBs.
set(CPACK_TOLVARIN_SYMBOLS "")
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(CPACK_TOLVARIN_SYMBOLS
    "${LAUNCHER_EXE_NAME}.exe=${CMAKE_BINARY_DIR}/${LAUNCHER_EXE_NAME}.pdb"
    "Library/TOLVARIN64.dll=${CMAKE_BINARY_DIR}/sample/TOLVARIN64.pdb"
    "Library/TOLVARIN64avx.dll=${CMAKE_BINARY_DIR}/sample/TOLVARIN64avx.pdb")
endif()

# The installer, from release/NSIS.template.in, which CPack finds on the
# module path. The CPACK_TOLVARIN_* values are that template's own.
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/image/icon/tolvarin.ico)
set(CPACK_TOLVARIN_EXE ${LAUNCHER_EXE_NAME}.exe)
set(CPACK_TOLVARIN_DESCRIPTION "${LAUNCHER_FILE_DESCRIPTION} installer")
# What Default Apps shows under the program's name.
set(CPACK_TOLVARIN_APP_DESCRIPTION "${LAUNCHER_FILE_DESCRIPTION}")
set(CPACK_TOLVARIN_COPYRIGHT "${LAUNCHER_LEGAL_COPYRIGHT}")
# makensis runs the signing command through the shell, with the file for %1.
set(CPACK_TOLVARIN_SIGN_COMMAND "")
foreach(word IN LISTS TOLVARIN_SIGN_COMMAND)
  string(APPEND CPACK_TOLVARIN_SIGN_COMMAND "\"${word}\" ")
endforeach()
if(CPACK_TOLVARIN_SIGN_COMMAND)
  string(APPEND CPACK_TOLVARIN_SIGN_COMMAND "-- \"%1\"")
endif()

# The photo types the installer offers Tolvarin for in "Open with": common
# picture formats under the ProgID Tolvarin.Image, camera raw formats under
# Tolvarin.Raw. It never makes itself their default program.
set(TOLVARIN_IMAGE_TYPES jpg jpeg jpe jfif png tif tiff bmp gif webp heic heif
  avif jxl)
set(TOLVARIN_RAW_TYPES dng cr2 cr3 crw nef nrw arw srf sr2 orf rw2 raf pef srw
  x3f 3fr iiq erf kdc mrw rwl)
set(types "")
set(macro [[${_MACRO}]])
foreach(kind IN ITEMS IMAGE RAW)
  string(APPEND types "!macro ForEach${kind}Type _MACRO\n")
  foreach(type IN LISTS TOLVARIN_${kind}_TYPES)
    string(APPEND types "  !insertmacro ${macro} ${type}\n")
  endforeach()
  string(APPEND types "!macroend\n")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/release/file_types.nsh "${types}")
set(CPACK_TOLVARIN_FILE_TYPES ${CMAKE_BINARY_DIR}/release/file_types.nsh)

include(CPack)
