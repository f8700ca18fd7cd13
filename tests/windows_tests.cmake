# End-to-end tests: the real executable under Wine, in temporary
# installations, with probe application libraries that record what they see.
set(PYTHON /usr/bin/python3)
set(PROBE_DIR ${CMAKE_CURRENT_BINARY_DIR}/probes)
set(PROBE_LINK -static -static-libgcc -static-libstdc++ -s)

function(add_probe name)
  cmake_parse_arguments(PROBE "" "SOURCE" "DEFINES;OPTIONS;LIBS" ${ARGN})
  add_library(${name} SHARED ${PROBE_SOURCE})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/sdk probes)
  target_compile_definitions(${name} PRIVATE ${PROBE_DEFINES})
  target_compile_options(${name} PRIVATE ${PROBE_OPTIONS})
  target_link_options(${name} PRIVATE ${PROBE_LINK})
  target_link_libraries(${name} PRIVATE ole32 ${PROBE_LIBS})
  set_target_properties(${name} PROPERTIES PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${PROBE_DIR})
  list(APPEND PROBE_TARGETS ${name})
  set(PROBE_TARGETS ${PROBE_TARGETS} PARENT_SCOPE)
endfunction()

set(APP probes/probe_app.cpp)
add_probe(probe_generic SOURCE ${APP})
add_probe(probe_avx SOURCE ${APP} OPTIONS -mavx)
add_probe(probe_normal_only SOURCE ${APP} DEFINES PROBE_EXPORT_SATELLITE=0)
add_probe(probe_satellite_only SOURCE ${APP} DEFINES PROBE_EXPORT_NORMAL=0)
add_probe(probe_no_entry SOURCE ${APP}
  DEFINES PROBE_EXPORT_NORMAL=0 PROBE_EXPORT_SATELLITE=0)

# Helpers the tests run under Wine: a program started with an exact command
# line, the registry read in one process, what the windows show, a file held
# or loaded by another program, and access control lists.
foreach(helper IN ITEMS spawn regdump uiprobe holdfile sddl)
  add_executable(${helper} probes/${helper}.cpp)
  target_compile_options(${helper} PRIVATE -municode)
  target_include_directories(${helper} PRIVATE probes)
  target_link_options(${helper} PRIVATE -municode ${PROBE_LINK})
  target_link_libraries(${helper} PRIVATE advapi32)
  set_target_properties(${helper} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${PROBE_DIR})
endforeach()

# Measures the texts of a program's windows from inside it, for uiprobe.
add_library(textfit SHARED probes/textfit.cpp)
target_include_directories(textfit PRIVATE probes)
target_link_options(textfit PRIVATE ${PROBE_LINK})
set_target_properties(textfit PROPERTIES PREFIX ""
  RUNTIME_OUTPUT_DIRECTORY ${PROBE_DIR})

set(RELEASE_DIR ${CMAKE_BINARY_DIR}/release-test)
set(E2E_ENV
  "RELEASE_DIR=${RELEASE_DIR}"
  "LAUNCHER_EXE=$<TARGET_FILE:launcher>"
  "SAMPLE_DIR=${CMAKE_BINARY_DIR}/sample"
  "PROBE_DIR=${PROBE_DIR}"
  "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix"
  "E2E_TMP=${CMAKE_BINARY_DIR}/e2e-tmp"
  "BUILD_DIR=${CMAKE_BINARY_DIR}"
  "SOURCE_DIR=${PROJECT_SOURCE_DIR}"
  "CMAKE_COMMAND=${CMAKE_COMMAND}")

add_test(NAME wine_prefix_start
  COMMAND ${PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/wine_prefix.py start)
add_test(NAME wine_prefix_stop
  COMMAND ${PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/wine_prefix.py stop)
set_tests_properties(wine_prefix_start PROPERTIES FIXTURES_SETUP wine
  ENVIRONMENT "${E2E_ENV}")
set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine
  ENVIRONMENT "${E2E_ENV}")

# An end-to-end suite, e2e_<name>: unittest runs RUN (the module <name> by
# default). The suites in the shared prefix run one at a time
# (RESOURCE_LOCK), beside the release build and the installer suites, whose
# prefixes (FIXTURES) are their own.
function(add_e2e_test name)
  cmake_parse_arguments(E2E "" "" "RUN;FIXTURES" ${ARGN})
  if(NOT E2E_RUN)
    set(E2E_RUN ${name})
  endif()
  add_test(NAME e2e_${name}
    COMMAND ${PYTHON} -m unittest -v ${E2E_RUN}
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
  set_tests_properties(e2e_${name} PROPERTIES ENVIRONMENT "${E2E_ENV}"
    TIMEOUT 900)
  if(E2E_FIXTURES)
    set_tests_properties(e2e_${name} PROPERTIES
      FIXTURES_REQUIRED "${E2E_FIXTURES}")
  else()
    set_tests_properties(e2e_${name} PROPERTIES FIXTURES_REQUIRED wine
      RESOURCE_LOCK wineprefix)
  endif()
endfunction()

add_e2e_test(test_launcher)

add_test(NAME image
  COMMAND ${PYTHON} -m unittest -v test_image
  WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/image)
set(LAUNCHER_PDB "")
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(LAUNCHER_PDB "$<TARGET_FILE_DIR:launcher>/${LAUNCHER_EXE_NAME}.pdb")
endif()
set_tests_properties(image PROPERTIES ENVIRONMENT
  "LAUNCHER_EXE=$<TARGET_FILE:launcher>;SOURCE_DIR=${PROJECT_SOURCE_DIR};\
LAUNCHER_PDB=${LAUNCHER_PDB};\
PROCESS_MITIGATIONS=$<BOOL:${TOLVARIN_PROCESS_MITIGATIONS}>")

# Variants for the fault matrix.
add_probe(probe_refuse_attach SOURCE ${APP} DEFINES PROBE_REFUSE_ATTACH=1)
add_probe(probe_own_sta SOURCE ${APP} DEFINES PROBE_OWN_STA=1)
add_probe(probe_mta_in_dllmain SOURCE ${APP}
  DEFINES PROBE_MTA_IN_DLLMAIN=1 PROBE_PINNED=1)
add_probe(probe_pinned SOURCE ${APP} DEFINES PROBE_PINNED=1)
add_probe(probe_noop SOURCE probes/probe_noop.cpp)
add_probe(probe_dependency SOURCE probes/probe_dependency.cpp)
add_probe(probe_with_dependency SOURCE ${APP}
  DEFINES PROBE_USES_DEPENDENCY=1 LIBS probe_dependency)

# The same application library built for 32-bit Windows, which a 64-bit
# process cannot load.
set(PROBE_32BIT ${PROBE_DIR}/probe_32bit.dll)
add_custom_command(OUTPUT ${PROBE_32BIT}
  COMMAND ${I686_CXX_COMPILER} -shared -O2 -std=c++17 -Wall -Wextra -Werror
    -I${PROJECT_SOURCE_DIR}/sdk -I${CMAKE_CURRENT_SOURCE_DIR}/probes
    ${CMAKE_CURRENT_SOURCE_DIR}/probes/probe_app.cpp -o ${PROBE_32BIT}
    -static -static-libgcc -static-libstdc++ -s -lole32
  DEPENDS probes/probe_app.cpp probes/record.h
  COMMENT "Building the 32-bit probe library")
add_custom_target(probe_32bit ALL DEPENDS ${PROBE_32BIT})

add_e2e_test(test_faults)
add_e2e_test(test_package)
add_e2e_test(test_sdk)
add_e2e_test(test_thumbnail)

# The release: built twice from the last commit under different conditions,
# signed with a throw-away certificate made at test time, and once unsigned
# (release/build_release.py), then compared and checked.
add_test(NAME release_build
  COMMAND ${PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/release/build_release.py
    ${PROJECT_SOURCE_DIR} ${RELEASE_DIR} ${PROJECT_VERSION})
set_tests_properties(release_build PROPERTIES FIXTURES_SETUP release
  TIMEOUT 900)
add_test(NAME release
  COMMAND ${PYTHON} -m unittest -v test_release
  WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/release)
set_tests_properties(release PROPERTIES FIXTURES_REQUIRED release
  ENVIRONMENT "RELEASE_DIR=${RELEASE_DIR};SOURCE_DIR=${PROJECT_SOURCE_DIR}")

# The installer suites, each in a prefix of its own cloned from one
# template, so that they run side by side.
add_test(NAME wine_template
  COMMAND ${PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/wine_prefix.py template)
set_tests_properties(wine_template PROPERTIES FIXTURES_SETUP wine_template
  ENVIRONMENT "${E2E_ENV}")
foreach(module IN ITEMS test_installer test_installer_folders
                       test_installer_pages test_installer_winget
                       test_crash_dump)
  add_e2e_test(${module} FIXTURES release wine_template)
endforeach()
add_e2e_test(test_installer_faults
  RUN test_installer_faults.Faults FIXTURES release wine_template)
add_e2e_test(test_installer_power_losses
  RUN test_installer_faults.PowerLosses FIXTURES release wine_template)
add_e2e_test(test_installer_in_use_install
  RUN test_installer_in_use.InstallWaits FIXTURES release wine_template)
add_e2e_test(test_installer_in_use_uninstall
  RUN test_installer_in_use.UninstallWaits FIXTURES release wine_template)
# Every language's pages, in three parts that run side by side.
foreach(part IN ITEMS A B C)
  add_e2e_test(test_installer_languages_${part}
    RUN test_installer_languages.Pages${part} FIXTURES release wine_template)
endforeach()
add_e2e_test(test_installer_language_choice
  RUN test_installer_languages.Choice FIXTURES release wine_template)
# The longest first, where they wait for the same fixtures.
set_tests_properties(e2e_test_installer_power_losses
  e2e_test_installer_in_use_install e2e_test_installer_in_use_uninstall
  e2e_test_installer_pages e2e_test_installer_languages_A
  e2e_test_installer_languages_B e2e_test_installer_languages_C
  PROPERTIES COST 100)
