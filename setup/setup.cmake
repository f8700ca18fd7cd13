# The installer's job engine: the pure decisions and the transaction
# (setup_core, built for the host tests too) and, on Windows, the NSIS plugin
# that the installer and the uninstaller carry (SetupEngine.dll).
set(SETUP_DIR ${CMAKE_CURRENT_LIST_DIR})
set(SETUP_GENERATED ${CMAKE_BINARY_DIR}/setup)

# product.h from the names and the JSON definitions.
function(setup_wide_list out)
  set(items "")
  foreach(item IN LISTS ARGN)
    string(REPLACE "\\" "\\\\" item "${item}")
    list(APPEND items "L\"${item}\"")
  endforeach()
  list(JOIN items ", " joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

function(setup_json_list out json)
  string(JSON count LENGTH "${json}" ${ARGN})
  set(items "")
  if(count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(index RANGE ${last})
      string(JSON item GET "${json}" ${ARGN} ${index})
      list(APPEND items "${item}")
    endforeach()
  endif()
  set(${out} "${items}" PARENT_SCOPE)
endfunction()

file(READ ${PROJECT_SOURCE_DIR}/release/layout.json layout)
setup_json_list(files "${layout}" files)
setup_json_list(folders "${layout}" folders)
list(FIND files "${LAUNCHER_EXE_NAME}.exe" SETUP_LAUNCHER)
list(LENGTH files count)
string(LENGTH "${count}.gone" SETUP_LONGEST_JOURNAL_NAME)
math(EXPR SETUP_LONGEST_JOURNAL_NAME "${SETUP_LONGEST_JOURNAL_NAME} + 1")
setup_wide_list(SETUP_FILES ${files})
setup_wide_list(SETUP_FOLDERS ${folders})
file(READ ${PROJECT_SOURCE_DIR}/release/file_types.json types)
setup_json_list(image "${types}" progids ${PROJECT_NAME}.Image)
setup_json_list(raw "${types}" progids ${PROJECT_NAME}.Raw)
setup_wide_list(SETUP_IMAGE_TYPES ${image})
setup_wide_list(SETUP_RAW_TYPES ${raw})
file(READ ${PROJECT_SOURCE_DIR}/release/exit_codes.json exit_codes)
string(JSON count LENGTH "${exit_codes}" codes)
math(EXPR last "${count} - 1")
set(SETUP_EXIT_CODES "")
foreach(index RANGE ${last})
  string(JSON name GET "${exit_codes}" codes ${index} name)
  string(JSON code GET "${exit_codes}" codes ${index} code)
  # BAD_FOLDER: kExitBadFolder
  string(TOLOWER "${name}" words)
  string(REPLACE "_" ";" words "${words}")
  set(camel "")
  foreach(word IN LISTS words)
    string(SUBSTRING "${word}" 0 1 first)
    string(TOUPPER "${first}" first)
    string(SUBSTRING "${word}" 1 -1 rest)
    string(APPEND camel "${first}${rest}")
  endforeach()
  string(APPEND SETUP_EXIT_CODES "  kExit${camel} = ${code},\n")
endforeach()
configure_file(${SETUP_DIR}/product.h.in ${SETUP_GENERATED}/product.h @ONLY)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY
  CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/release/layout.json
  ${PROJECT_SOURCE_DIR}/release/file_types.json
  ${PROJECT_SOURCE_DIR}/release/exit_codes.json)

set(SETUP_CORE_SOURCES
  ${SETUP_DIR}/command_line.cpp
  ${SETUP_DIR}/folder.cpp
  ${SETUP_DIR}/job.cpp
  ${SETUP_DIR}/language.cpp
  ${SETUP_DIR}/permissions.cpp
  ${SETUP_DIR}/record.cpp
  ${SETUP_DIR}/steps.cpp
  ${SETUP_DIR}/registration.cpp
  ${SETUP_DIR}/text.cpp)
add_library(setup_core STATIC ${SETUP_CORE_SOURCES})
target_include_directories(setup_core PUBLIC ${SETUP_DIR} ${SETUP_GENERATED})

if(WIN32)
  # The NSIS plugin, linked like the launcher so that it imports only system
  # libraries; makensis packs it into the installer and the uninstaller.
  add_library(setup_engine SHARED ${SETUP_DIR}/nsis_plugin.cpp
    ${SETUP_DIR}/windows_platform.cpp)
  target_link_libraries(setup_engine PRIVATE setup_core ole32 shell32 uuid
    bcrypt)
  target_link_options(setup_engine PRIVATE -static -static-libgcc
    -static-libstdc++ -s)
  set_target_properties(setup_engine PROPERTIES PREFIX "" OUTPUT_NAME
    SetupEngine RUNTIME_OUTPUT_DIRECTORY ${SETUP_GENERATED})
endif()
