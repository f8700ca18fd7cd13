# Unit tests of the launcher's decisions and sequences on the host, and the
# real AVX probe on this processor and on emulated ones.
find_package(GTest REQUIRED)
include(GoogleTest)

add_executable(unit_tests
  unit/app_library_test.cpp
  unit/avx_probe_test.cpp
  unit/startup_test.cpp
  unit/thumbnail_size_test.cpp
  stand_in/windows_stand_in.cpp)
target_include_directories(unit_tests PRIVATE stand_in
  ${PROJECT_SOURCE_DIR}/sample)
target_link_libraries(unit_tests PRIVATE launcher_core GTest::gtest_main)
gtest_discover_tests(unit_tests)

# The installer's job engine against an in-memory Windows.
add_executable(setup_tests
  unit/setup/decisions_test.cpp
  unit/setup/job_test.cpp
  unit/setup/memory_platform.cpp)
target_include_directories(setup_tests PRIVATE unit/setup)
target_link_libraries(setup_tests PRIVATE setup_core GTest::gtest_main)
gtest_discover_tests(setup_tests)

# The real probe alone, without sanitizers, so that it runs under qemu-user
# on emulated processors.
add_executable(avx_probe_cli ${PROJECT_SOURCE_DIR}/launcher/avx_probe.cpp
  unit/avx_probe_cli.cpp)
target_include_directories(avx_probe_cli PRIVATE ${PROJECT_SOURCE_DIR}/launcher)

# qemu-user emulates processors with and without AVX and XSAVE.
find_program(QEMU_X86_64 qemu-x86_64 REQUIRED)
foreach(case IN ITEMS "Westmere:0" "SandyBridge:1" "Westmere,+xsave:0"
                      "SandyBridge,-xsave:0")
  string(REPLACE ":" ";" parts "${case}")
  list(GET parts 0 cpu)
  list(GET parts 1 expected)
  add_test(NAME "avx_probe_on_${cpu}"
    COMMAND ${QEMU_X86_64} -cpu ${cpu} $<TARGET_FILE:avx_probe_cli> ${expected})
endforeach()

# Style and static analysis, with the configurations kept in the repository
# (.clang-format, .clang-tidy, cppcheck-suppressions.txt): zero findings.
file(GLOB_RECURSE CXX_FILES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/launcher/*.cpp ${PROJECT_SOURCE_DIR}/launcher/*.h
  ${PROJECT_SOURCE_DIR}/setup/*.cpp ${PROJECT_SOURCE_DIR}/setup/*.h
  ${PROJECT_SOURCE_DIR}/sample/*.cpp ${PROJECT_SOURCE_DIR}/sample/*.h
  ${PROJECT_SOURCE_DIR}/sdk/*.h ${PROJECT_SOURCE_DIR}/image/*.cpp
  ${PROJECT_SOURCE_DIR}/bench/*.cpp
  ${PROJECT_SOURCE_DIR}/tests/*.cpp ${PROJECT_SOURCE_DIR}/tests/*.h)
find_program(CLANG_FORMAT clang-format REQUIRED)
find_program(CLANG_TIDY clang-tidy REQUIRED)
find_program(CPPCHECK cppcheck REQUIRED)

add_test(NAME clang_format
  COMMAND ${CLANG_FORMAT} --dry-run -Werror ${CXX_FILES})
# The launcher's and the setup engine's sources as the host build compiles
# them; those that need windows.h are left to cppcheck.
add_test(NAME clang_tidy
  COMMAND ${CLANG_TIDY} --quiet -p ${CMAKE_BINARY_DIR}
    ${PROJECT_SOURCE_DIR}/launcher/app_library.cpp
    ${PROJECT_SOURCE_DIR}/launcher/avx_probe.cpp
    ${PROJECT_SOURCE_DIR}/launcher/startup.cpp
    ${SETUP_CORE_SOURCES})
add_test(NAME cppcheck
  COMMAND ${CPPCHECK} --quiet --error-exitcode=1 --inline-suppr
    --enable=warning,style,performance,portability --std=c++17 --language=c++
    --suppressions-list=${PROJECT_SOURCE_DIR}/cppcheck-suppressions.txt
    -I ${PROJECT_SOURCE_DIR}/launcher -I ${PROJECT_SOURCE_DIR}/sdk
    -I ${PROJECT_SOURCE_DIR}/sample -I ${PROJECT_SOURCE_DIR}/setup
    -I ${SETUP_GENERATED}
    -I ${PROJECT_SOURCE_DIR}/tests/probes -I ${PROJECT_SOURCE_DIR}/tests/stand_in
    ${PROJECT_SOURCE_DIR}/launcher ${PROJECT_SOURCE_DIR}/sample
    ${PROJECT_SOURCE_DIR}/setup
    ${PROJECT_SOURCE_DIR}/image ${PROJECT_SOURCE_DIR}/bench
    ${PROJECT_SOURCE_DIR}/tests/probes ${PROJECT_SOURCE_DIR}/tests/stand_in
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})

# The documents' links: every relative link and picture of README.md and
# docs/*.md names a file that is there, and every anchor a heading.
find_program(PYTHON3 python3 REQUIRED)
add_test(NAME doc_links
  COMMAND ${PYTHON3} ${PROJECT_SOURCE_DIR}/scripts/check-links.py
    ${PROJECT_SOURCE_DIR})

# The fuzz target for what the engine reads back (the journal's record, the
# folder rules, the switches), built with clang's libFuzzer, and a bounded
# run from the corpus in the tree. New inputs go to the build folder.
find_program(CLANG_FUZZ_CXX clang++-19 REQUIRED)
set(FUZZER ${CMAKE_CURRENT_BINARY_DIR}/record_fuzz)
set(FUZZ_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/unit/setup/record_fuzz.cpp
  ${PROJECT_SOURCE_DIR}/setup/command_line.cpp
  ${PROJECT_SOURCE_DIR}/setup/folder.cpp
  ${PROJECT_SOURCE_DIR}/setup/record.cpp
  ${PROJECT_SOURCE_DIR}/setup/registration.cpp
  ${PROJECT_SOURCE_DIR}/setup/text.cpp)
add_custom_command(OUTPUT ${FUZZER}
  COMMAND ${CLANG_FUZZ_CXX} -std=c++17 -O1 -g -Wall -Wextra -Werror
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
    -I${PROJECT_SOURCE_DIR}/setup -I${SETUP_GENERATED}
    ${FUZZ_SOURCES} -o ${FUZZER}
  DEPENDS ${FUZZ_SOURCES} ${SETUP_GENERATED}/product.h
  COMMENT "Building the journal's fuzz target")
add_custom_target(record_fuzz ALL DEPENDS ${FUZZER})
set(FUZZ_CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/unit/setup/corpus)
add_test(NAME record_fuzz
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
    ${FUZZER} -max_total_time=10 -timeout=5 -rss_limit_mb=1024
    -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/fuzz-
    ${CMAKE_CURRENT_BINARY_DIR}/fuzz-corpus ${FUZZ_CORPUS})
set_tests_properties(record_fuzz PROPERTIES FIXTURES_REQUIRED fuzz_corpus)
add_test(NAME record_fuzz_corpus
  COMMAND ${CMAKE_COMMAND} -E make_directory
    ${CMAKE_CURRENT_BINARY_DIR}/fuzz-corpus)
set_tests_properties(record_fuzz_corpus PROPERTIES FIXTURES_SETUP fuzz_corpus)

# The crash resolver's refusals, with the Python that has what it needs.
add_test(NAME resolve_crash
  COMMAND /usr/bin/python3 -m unittest -v resolve_crash_test
  WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/tools)
