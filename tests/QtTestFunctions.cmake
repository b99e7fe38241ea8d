# Included by ctest before it runs the tests: adds one test for each test
# function of a QtTest program, named PROGRAM.function and run as
# `PROGRAM function`. The function list comes from the program's own
# -functions option and is read again whenever the program is newer than it.
#
# Set by the include file tests/CMakeLists.txt generates:
#   QTEST_NAME        the program's name (prefix of every test)
#   QTEST_EXECUTABLE  the program
#   QTEST_TESTS_FILE  where the add_test calls are kept
#
# Each test runs on the offscreen platform. One whose rows were skipped and
# none failed (a QSKIP for a missing test queue) shows as skipped; a failure
# is never hidden behind a skip.

if(NOT EXISTS "${QTEST_TESTS_FILE}" OR NOT "${QTEST_TESTS_FILE}" IS_NEWER_THAN "${QTEST_EXECUTABLE}")
  set(ENV{QT_QPA_PLATFORM} offscreen)
  execute_process(COMMAND "${QTEST_EXECUTABLE}" -functions
                  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE result
                  TIMEOUT 300)
  set(properties "ENVIRONMENT QT_QPA_PLATFORM=offscreen SKIP_REGULAR_EXPRESSION [==[Totals: [0-9]+ passed, 0 failed, [1-9][0-9]* skipped]==]")
  set(tests "")
  if(result EQUAL 0)
    string(REPLACE "\n" ";" lines "${listing}")
    foreach(line IN LISTS lines)
      if(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)\\(\\)$")
        set(function "${CMAKE_MATCH_1}")
        string(APPEND tests
               "add_test([==[${QTEST_NAME}.${function}]==] [==[${QTEST_EXECUTABLE}]==] [==[${function}]==])\n"
               "set_tests_properties([==[${QTEST_NAME}.${function}]==] PROPERTIES ${properties})\n")
      endif()
    endforeach()
  endif()
  if(tests STREQUAL "")
    # The list could not be read: one test that runs the whole program, so
    # its failure and output show in ctest's report.
    string(APPEND tests
           "add_test([==[${QTEST_NAME}]==] [==[${QTEST_EXECUTABLE}]==])\n"
           "set_tests_properties([==[${QTEST_NAME}]==] PROPERTIES ${properties})\n")
  endif()
  file(WRITE "${QTEST_TESTS_FILE}" "${tests}")
endif()
include("${QTEST_TESTS_FILE}")
