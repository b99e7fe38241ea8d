# Included by ctest before it runs the tests: adds one test for each test
# function of a QtTest program, named PROGRAM.function and run as
# `PROGRAM function`. The function list comes from the program's own
# -functions option and is read again whenever the program, this file or
# the program's settings are newer than it.
#
# Set by the include file tests/CMakeLists.txt generates:
#   QTEST_NAME        the program's name (prefix of every test)
#   QTEST_EXECUTABLE  the program
#   QTEST_TESTS_FILE  where the add_test calls are kept
#   QTEST_FINNISH     true: each function runs again in the users' locale,
#                     as fi_FI.PROGRAM.function (skipped, saying so, on a
#                     machine without fi_FI.UTF-8)
#
# Each test runs on the offscreen platform. One whose rows were skipped and
# none failed (a QSKIP for a missing test queue) shows as skipped; a failure
# is never hidden behind a skip.

if(NOT EXISTS "${QTEST_TESTS_FILE}" OR NOT "${QTEST_TESTS_FILE}" IS_NEWER_THAN "${QTEST_EXECUTABLE}"
   OR NOT "${QTEST_TESTS_FILE}" IS_NEWER_THAN "${CMAKE_CURRENT_LIST_FILE}"
   OR NOT "${QTEST_TESTS_FILE}" IS_NEWER_THAN "${CMAKE_PARENT_LIST_FILE}")
  set(ENV{QT_QPA_PLATFORM} offscreen)
  execute_process(COMMAND "${QTEST_EXECUTABLE}" -functions
                  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE result
                  TIMEOUT 300)
  set(properties "ENVIRONMENT QT_QPA_PLATFORM=offscreen SKIP_REGULAR_EXPRESSION [==[Totals: [0-9]+ passed, 0 failed, [1-9][0-9]* skipped]==]")
  set(finnish_properties "ENVIRONMENT [==[QT_QPA_PLATFORM=offscreen;LC_ALL=fi_FI.UTF-8]==] SKIP_REGULAR_EXPRESSION [==[Totals: [0-9]+ passed, 0 failed, [1-9][0-9]* skipped]==]")
  set(tests "")
  execute_process(COMMAND locale -a OUTPUT_VARIABLE locales ERROR_QUIET)
  string(TOLOWER "${locales}" locales)
  string(FIND "${locales}" "fi_fi.utf8" finnish_at)
  if(finnish_at GREATER_EQUAL 0)
    set(finnish_available TRUE)
  else()
    set(finnish_available FALSE)
  endif()
  if(result EQUAL 0)
    string(REPLACE "\n" ";" lines "${listing}")
    foreach(line IN LISTS lines)
      if(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)\\(\\)$")
        set(function "${CMAKE_MATCH_1}")
        string(APPEND tests
               "add_test([==[${QTEST_NAME}.${function}]==] [==[${QTEST_EXECUTABLE}]==] [==[${function}]==])\n"
               "set_tests_properties([==[${QTEST_NAME}.${function}]==] PROPERTIES ${properties})\n")
        if(QTEST_FINNISH)
          if(finnish_available)
            string(APPEND tests
                   "add_test([==[fi_FI.${QTEST_NAME}.${function}]==] [==[${QTEST_EXECUTABLE}]==] [==[${function}]==])\n"
                   "set_tests_properties([==[fi_FI.${QTEST_NAME}.${function}]==] PROPERTIES ${finnish_properties})\n")
          else()
            string(APPEND tests
                   "add_test([==[fi_FI.${QTEST_NAME}.${function}]==] sh -c [==[echo 'fi_FI.UTF-8 is not installed here (scripts/setup.sh generates it)'\; exit 77]==])\n"
                   "set_tests_properties([==[fi_FI.${QTEST_NAME}.${function}]==] PROPERTIES SKIP_RETURN_CODE 77)\n")
          endif()
        endif()
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
