# Signs one PE file in place with SHA-256 Authenticode (osslsigncode):
#   cmake -DOSSLSIGNCODE=... -DCERTIFICATE=... -DKEY=... -DTIME=<seconds>
#         [-DTIMESTAMP_URL=...] [-DDESCRIPTION=...] -P sign.cmake -- <file>
# The signature is written to a copy that then replaces the file. When
# signing fails the file is removed, so that no unsigned file is left for a
# later build, install or pack to take for signed.
set(file "")
foreach(i RANGE ${CMAKE_ARGC})
  if(CMAKE_ARGV${i} STREQUAL "--")
    math(EXPR next "${i} + 1")
    set(file "${CMAKE_ARGV${next}}")
  endif()
endforeach()
if(NOT file OR NOT EXISTS "${file}")
  message(FATAL_ERROR "sign.cmake: no file to sign (${file})")
endif()

set(arguments sign -certs "${CERTIFICATE}" -key "${KEY}" -h sha256
  -time "${TIME}")
if(DESCRIPTION)
  list(APPEND arguments -n "${DESCRIPTION}")
endif()
if(TIMESTAMP_URL)
  list(APPEND arguments -ts "${TIMESTAMP_URL}")
endif()

set(signed "${file}.signed")
file(REMOVE "${signed}")
execute_process(
  COMMAND "${OSSLSIGNCODE}" ${arguments} -in "${file}" -out "${signed}"
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  file(REMOVE "${file}" "${signed}")
  message(FATAL_ERROR "Signing ${file} failed:\n${output}")
endif()
file(RENAME "${signed}" "${file}")
