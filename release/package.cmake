# `cpack` in the Windows build folder makes the release packages in
# <build>/package/: a ZIP of the installation and a 64-bit NSIS installer that
# lays out the same files. Both hold the same bytes from every build of a
# commit (release/stage.cmake, release/post_build.cmake).
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
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/post_build.cmake)
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

# The installer, from release/installer/NSIS.template.in, which CPack finds
# on the module path, and the files it includes from the same folder. The
# CPACK_TOLVARIN_* values are that template's own. makensis's warnings are
# errors, as the compilers' are.
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/installer)
set(CPACK_TOLVARIN_INSTALLER_DIR ${CMAKE_CURRENT_LIST_DIR}/installer)
set(CPACK_NSIS_EXECUTABLE_PRE_ARGUMENTS -WX)
# The uninstaller is made by the installer's script, with the same makensis.
find_program(TOLVARIN_MAKENSIS makensis REQUIRED)
set(CPACK_NSIS_EXECUTABLE ${TOLVARIN_MAKENSIS})
set(CPACK_TOLVARIN_MAKENSIS ${TOLVARIN_MAKENSIS})
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

# The installer's languages and texts, from the catalogues of
# release/installer/po; a catalogue that is not whole stops the build.
set(TOLVARIN_LANGUAGES ${CMAKE_BINARY_DIR}/release/languages.nsh)
set(TOLVARIN_TRANSLATIONS ${CMAKE_BINARY_DIR}/release/translations.json)
file(GLOB catalogues CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/installer/po/*)
add_custom_command(OUTPUT ${TOLVARIN_LANGUAGES} ${TOLVARIN_TRANSLATIONS}
  COMMAND ${TOLVARIN_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/installer/catalogues.py
    nsh ${TOLVARIN_LANGUAGES}
  COMMAND ${TOLVARIN_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/installer/catalogues.py
    json ${TOLVARIN_TRANSLATIONS}
  DEPENDS ${catalogues} ${CMAKE_CURRENT_LIST_DIR}/installer/strings.json
    ${CMAKE_CURRENT_LIST_DIR}/installer/catalogues.py
  COMMENT "Checking the installer's translations"
  VERBATIM)
add_custom_target(installer_languages ALL
  DEPENDS ${TOLVARIN_LANGUAGES} ${TOLVARIN_TRANSLATIONS})
set(CPACK_TOLVARIN_LANGUAGES ${TOLVARIN_LANGUAGES})

# The job engine, an NSIS plugin, and what the installer lays out.
set(CPACK_TOLVARIN_ENGINE_DIR ${SETUP_GENERATED})
set(CPACK_TOLVARIN_LAYOUT ${PROJECT_SOURCE_DIR}/release/layout.json)

# The exit codes of the installer and the uninstaller, from their one
# definition (release/exit_codes.json), as NSIS defines EXIT_<NAME>.
file(READ ${CMAKE_CURRENT_LIST_DIR}/exit_codes.json exit_codes)
string(JSON count LENGTH "${exit_codes}" codes)
set(defines "")
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  string(JSON name GET "${exit_codes}" codes ${index} name)
  string(JSON code GET "${exit_codes}" codes ${index} code)
  string(APPEND defines "!define EXIT_${name} ${code}\n")
endforeach()
set(CPACK_TOLVARIN_EXIT_CODES ${CMAKE_BINARY_DIR}/release/exit_codes.nsh)
file(WRITE ${CPACK_TOLVARIN_EXIT_CODES} "${defines}")
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY
  CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/exit_codes.json)

# Package managers. With the https folder that will hold the packages
# ("{version}" in it standing for the version), cpack also writes, beside
# the packages, the winget manifest, the Scoop manifest and SHA256SUMS
# (release/write_manifests.py); without it, none of them.
set(TOLVARIN_DOWNLOAD_URL "" CACHE STRING
  "https folder the release's packages are downloaded from ({version} for the version); writes the winget and Scoop manifests")
set(TOLVARIN_HOMEPAGE_URL "" CACHE STRING
  "The product's web page, for the manifests (optional)")
set(TOLVARIN_LICENSE "Proprietary" CACHE STRING
  "The product's licence, as the manifests name it")
set(TOLVARIN_LICENSE_URL "" CACHE STRING
  "Where the licence is published, for the manifests (optional)")
set(CPACK_TOLVARIN_MANIFESTS "")
if(TOLVARIN_DOWNLOAD_URL)
  foreach(url IN ITEMS TOLVARIN_DOWNLOAD_URL TOLVARIN_HOMEPAGE_URL
                       TOLVARIN_LICENSE_URL)
    if(${url} AND NOT ${url} MATCHES "^https://[^ ]+$")
      message(FATAL_ERROR "${url} must be an https URL, not \"${${url}}\".")
    endif()
  endforeach()
  string(REGEX REPLACE "/+$" "" download_url "${TOLVARIN_DOWNLOAD_URL}")
  set(config "{}")
  foreach(pair IN ITEMS
      "identifier=${PROJECT_NAME}.${PROJECT_NAME}" "name=${PROJECT_NAME}"
      "publisher=${CPACK_PACKAGE_VENDOR}" "exe=${CPACK_TOLVARIN_EXE}"
      "folder=${CPACK_PACKAGE_INSTALL_DIRECTORY}"
      "product_code=${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}"
      "description=${LAUNCHER_FILE_DESCRIPTION}"
      "copyright=${LAUNCHER_LEGAL_COPYRIGHT}"
      "license=${TOLVARIN_LICENSE}" "license_url=${TOLVARIN_LICENSE_URL}"
      "homepage=${TOLVARIN_HOMEPAGE_URL}" "download_url=${download_url}"
      "exit_codes=${CMAKE_CURRENT_LIST_DIR}/exit_codes.json"
      "file_types=${CMAKE_CURRENT_LIST_DIR}/file_types.json"
      "translations=${TOLVARIN_TRANSLATIONS}")
    string(FIND "${pair}" "=" at)
    string(SUBSTRING "${pair}" 0 ${at} key)
    math(EXPR at "${at} + 1")
    string(SUBSTRING "${pair}" ${at} -1 value)
    string(REPLACE "\\" "\\\\" value "${value}")
    string(REPLACE "\"" "\\\"" value "${value}")
    string(JSON config SET "${config}" ${key} "\"${value}\"")
  endforeach()
  string(JSON config SET "${config}" source_time ${TOLVARIN_SOURCE_TIME})
  set(CPACK_TOLVARIN_MANIFESTS ${CMAKE_BINARY_DIR}/release/manifests.json)
  file(WRITE ${CPACK_TOLVARIN_MANIFESTS} "${config}\n")
endif()

include(CPack)
