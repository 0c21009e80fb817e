# Test discovery with labels from the file each test is defined in; the rule is described in
# tests/CMakeLists.txt. Run after every link of the test binary:
#   cmake -D TEST_EXECUTABLE=… -D WORKING_DIR=… -D CTEST_FILE=… -D PG_STATE=… -P labels.cmake
# It asks the binary for its tests together with their files (GoogleTest's JSON listing) and writes one
# add_test per test into CTEST_FILE, which ctest includes.
cmake_minimum_required(VERSION 3.25)

foreach(required TEST_EXECUTABLE WORKING_DIR CTEST_FILE PG_STATE)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "labels.cmake: ${required} is not set")
  endif()
endforeach()

# The label of a test file, from its path below tests/ (the last "tests/" in the path, so a checkout
# inside a folder called tests still works). __FILE__ may be absolute or relative (ccache's base_dir).
function(hcs_label_of file out)
  string(REPLACE "\\" "/" path "${file}")
  string(REGEX REPLACE "^(.*/)?tests/" "" path "${path}")
  if(path MATCHES "^integration/fault/")
    set(label fault)
  elseif(path MATCHES "^integration/db/")
    set(label db)
  elseif(path MATCHES "^integration/fleet/")
    set(label fleet)
  elseif(path MATCHES "^integration/")
    set(label integration)
  else()
    set(label unit)
  endif()
  set(${out} ${label} PARENT_SCOPE)
endfunction()

set(listing "${CTEST_FILE}.json")
file(REMOVE "${listing}")
execute_process(
  COMMAND "${TEST_EXECUTABLE}" --gtest_list_tests "--gtest_output=json:${listing}"
  WORKING_DIRECTORY "${WORKING_DIR}"
  TIMEOUT 60
  OUTPUT_VARIABLE output ERROR_VARIABLE output
  RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT EXISTS "${listing}")
  message(FATAL_ERROR "labels.cmake: listing the tests of ${TEST_EXECUTABLE} failed (${result}):\n${output}")
endif()
file(READ "${listing}" json)
file(REMOVE "${listing}")

set(script "")
string(JSON suites LENGTH "${json}" testsuites)
if(suites EQUAL 0)
  message(FATAL_ERROR "labels.cmake: ${TEST_EXECUTABLE} lists no tests")
endif()
math(EXPR last_suite "${suites} - 1")
foreach(s RANGE ${last_suite})
  # Each suite is taken out once: string(JSON) parses its whole input on every call.
  string(JSON suite GET "${json}" testsuites ${s})
  string(JSON suite_name GET "${suite}" name)
  string(JSON tests LENGTH "${suite}" testsuite)
  math(EXPR last_test "${tests} - 1")
  foreach(t RANGE ${last_test})
    string(JSON test GET "${suite}" testsuite ${t})
    string(JSON test_name GET "${test}" name)
    string(JSON file GET "${test}" file)
    # Disabled tests are not run by ctest; the PostgreSQL fixture steps are added by name instead.
    if(suite_name MATCHES "(^|/)DISABLED_" OR test_name MATCHES "^DISABLED_")
      continue()
    endif()
    set(name "${suite_name}.${test_name}")
    hcs_label_of("${file}" label)
    set(labels ${label})
    # Threads of their own: suites named "...Threads", and the fault matrix (four threads per fault).
    if(label STREQUAL "fault" OR suite_name MATCHES "Threads$")
      list(APPEND labels concurrency)
    endif()
    set(properties "LABELS [==[${labels}]==] TIMEOUT 120 WORKING_DIRECTORY [==[${WORKING_DIR}]==]")
    string(APPEND properties " SKIP_REGULAR_EXPRESSION [==[\\[  SKIPPED \\]]==]")
    if(label STREQUAL "db")
      string(APPEND properties " FIXTURES_REQUIRED pg ENVIRONMENT [==[HCS_PG_CLUSTER=${PG_STATE}]==]")
    endif()
    string(APPEND script "add_test([==[${name}]==] [==[${TEST_EXECUTABLE}]==] "
           "[==[--gtest_filter=${name}]==] --gtest_also_run_disabled_tests)\n"
           "set_tests_properties([==[${name}]==] PROPERTIES ${properties})\n")
  endforeach()
endforeach()
file(WRITE "${CTEST_FILE}" "${script}")
