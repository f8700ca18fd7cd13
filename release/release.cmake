# What makes a build a release: the same bytes from every build of a commit,
# and Authenticode signing when a certificate is given.

# The source time: the last commit's time, or SOURCE_DATE_EPOCH when the
# caller sets it (a build from a source archive has no git). It stamps every
# image the build links, the packaged files and the signatures, so that two
# builds of one commit give the same bytes wherever and whenever they run.
function(tolvarin_source_time out)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(time "$ENV{SOURCE_DATE_EPOCH}")
    set(origin "SOURCE_DATE_EPOCH")
  else()
    find_package(Git QUIET)
    if(GIT_FOUND)
      execute_process(
        COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
        OUTPUT_VARIABLE time OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE status ERROR_QUIET)
      # A new commit must restamp the build: configure again when HEAD moves.
      execute_process(
        COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} rev-parse
          --path-format=absolute --git-path logs/HEAD
        OUTPUT_VARIABLE head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(EXISTS "${head_log}")
        set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY
          CMAKE_CONFIGURE_DEPENDS "${head_log}")
      endif()
      set(origin "the last commit")
    endif()
  endif()
  if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT time MATCHES "^[1-9][0-9]*$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a time in seconds since "
      "1970, not \"${time}\".")
  endif()
  if(NOT time MATCHES "^[1-9][0-9]*$")
    # Still a working build, stamped with the time of configuring.
    string(TIMESTAMP time "%s" UTC)
    set(origin "the time of configuring")
    message(WARNING "This is not a git checkout and SOURCE_DATE_EPOCH is not "
      "set, so this build is not reproducible. For a release, set "
      "SOURCE_DATE_EPOCH to the release's time in seconds since 1970 (the "
      "last commit's: git log -1 --format=%ct).")
  endif()
  message(STATUS "Source time: ${time} (from ${origin})")
  set(${out} ${time} PARENT_SCOPE)
endfunction()

tolvarin_source_time(TOLVARIN_SOURCE_TIME)

# GNU ld and lld write SOURCE_DATE_EPOCH, when it is set, as the PE time
# stamp instead of the time of the link. Crash tools match images by it, so it
# is the source time, never zero. Every link of the build runs with it, and
# without LIBRARY_PATH, which lld would write into the PDB.
foreach(language IN ITEMS C CXX)
  set(CMAKE_${language}_LINKER_LAUNCHER
    ${CMAKE_COMMAND} -E env --unset=LIBRARY_PATH
    SOURCE_DATE_EPOCH=${TOLVARIN_SOURCE_TIME})
endforeach()

# Signing. With a PEM certificate chain and its PEM private key, the build
# signs the launcher (SHA-256 Authenticode) right after linking it, and cpack
# signs the installer and the uninstaller in it. Without them nothing is
# signed. The signing time is the source time, so that signed builds with the
# same key are reproducible too; a time-stamp server, when given, adds its
# own time and makes each signature unique.
set(TOLVARIN_SIGN_CERTIFICATE "" CACHE FILEPATH
  "PEM certificate chain to sign the launcher and the installer with")
set(TOLVARIN_SIGN_KEY "" CACHE FILEPATH
  "PEM private key of the signing certificate")
set(TOLVARIN_SIGN_TIMESTAMP_URL "" CACHE STRING
  "RFC 3161 time-stamp server for the signatures (optional)")

if(TOLVARIN_SIGN_CERTIFICATE AND TOLVARIN_SIGN_KEY)
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  foreach(file IN ITEMS "${TOLVARIN_SIGN_CERTIFICATE}" "${TOLVARIN_SIGN_KEY}")
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "Signing file not found: ${file}")
    endif()
  endforeach()
  # The command that signs the file given after it, in place.
  set(TOLVARIN_SIGN_COMMAND
    ${CMAKE_COMMAND}
    "-DOSSLSIGNCODE=${OSSLSIGNCODE}"
    "-DCERTIFICATE=${TOLVARIN_SIGN_CERTIFICATE}"
    "-DKEY=${TOLVARIN_SIGN_KEY}"
    "-DTIMESTAMP_URL=${TOLVARIN_SIGN_TIMESTAMP_URL}"
    "-DTIME=${TOLVARIN_SOURCE_TIME}"
    "-DDESCRIPTION=${PROJECT_NAME}"
    -P ${CMAKE_CURRENT_LIST_DIR}/sign.cmake)
  message(STATUS "Signing with ${TOLVARIN_SIGN_CERTIFICATE}")
elseif(TOLVARIN_SIGN_CERTIFICATE OR TOLVARIN_SIGN_KEY)
  message(FATAL_ERROR "Signing needs both TOLVARIN_SIGN_CERTIFICATE and "
    "TOLVARIN_SIGN_KEY.")
else()
  set(TOLVARIN_SIGN_COMMAND "")
endif()

# Signs a target's file after each link, before anything installs or packs
# it. Without a certificate it does nothing.
function(tolvarin_sign target)
  if(TOLVARIN_SIGN_COMMAND)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${TOLVARIN_SIGN_COMMAND} -- "$<TARGET_FILE:${target}>"
      COMMENT "Signing ${target}"
      VERBATIM)
  endif()
endfunction()
