find_package(GTest 1.12 REQUIRED)
include(GoogleTest)

# One test binary per folder of tests/, linked against the library of the matching src/
# folder. Tests that start threads in the test's own process (the modem, the virtual modem,
# the main loop, the web server) are also run under ThreadSanitizer (label "jobs"). No test
# may skip: the test main reports a skip as a failure.
function(voryx_test_folder folder library)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${folder}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  set(target test_${folder})
  add_executable(${target} ${srcs} ${CMAKE_SOURCE_DIR}/tests/support/TestMain.cpp)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_compile_options(${target} PRIVATE ${VORYX_WARNINGS} -Wno-conversion)
  target_link_libraries(${target} PRIVATE ${library} ${ARGN} GTest::gtest GTest::gmock)
  target_compile_definitions(${target} PRIVATE
    VORYX_SOURCE_DIR="${CMAKE_SOURCE_DIR}" VORYX_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_dependencies(${target} voryx_resources)
  # One label per test (a list would be split by the discovery script): "jobs" for the
  # folders that start threads, "unit" for the rest. A folder of VORYX_JOB_TEST_FILTER_<folder>
  # is split: the tests that filter selects are "jobs", the others "unit".
  set(lock "")
  if(folder STREQUAL "cardreader")
    set(lock RESOURCE_LOCK pcscd)
  endif()
  set(common DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
  set(env ENVIRONMENT "VORYX_BINARY_DIR=${CMAKE_BINARY_DIR}" ${lock})
  if(VORYX_SANITIZE STREQUAL "thread")
    list(APPEND env ENVIRONMENT_MODIFICATION "TSAN_OPTIONS=set:suppressions=${CMAKE_SOURCE_DIR}/tests/support/tsan.supp")
  elseif(VORYX_SANITIZE STREQUAL "address")
    list(APPEND env ENVIRONMENT_MODIFICATION
         "LSAN_OPTIONS=set:suppressions=${CMAKE_SOURCE_DIR}/tests/support/lsan.supp:print_suppressions=0")
  endif()
  if(DEFINED VORYX_JOB_TEST_FILTER_${folder})
    set(filter "${VORYX_JOB_TEST_FILTER_${folder}}")
    gtest_discover_tests(${target} ${common} TEST_FILTER "${filter}" PROPERTIES LABELS jobs ${env})
    gtest_discover_tests(${target} ${common} TEST_FILTER "-${filter}" PROPERTIES LABELS unit ${env})
  else()
    set(labels unit)
    if(folder IN_LIST VORYX_JOB_TEST_FOLDERS)
      set(labels jobs)
    endif()
    gtest_discover_tests(${target} ${common} PROPERTIES LABELS ${labels} ${env})
  endif()
endfunction()

set(VORYX_JOB_TEST_FOLDERS modem simfiles cardreader qmi transfer kit ui web sim app)
# Of app/, the tests that start a virtual modem here (the voryx binary they run is built
# with the same sanitizer, so its own threads are checked as well); the rest only run the
# binary on files, or run start-up in this process without a thread.
set(VORYX_JOB_TEST_FILTER_app
    "CommandLineTest.AnSmsWrite*:CommandLineTest.AWriteKilled*:CommandLineTest.FindsTheModem*:CommandLineTest.ABackup*:CommandLineTest.TheOtherPhonebookStores:CommandLineTest.PinAndUnlock:ModemManagerTest.*:PromptTest.*")

voryx_test_folder(base voryx_base)
# The codec's tests also read messages back through the listings of transfer/.
voryx_test_folder(codec voryx_codec voryx_transfer)
voryx_test_folder(store voryx_store)
voryx_test_folder(entries voryx_entries)
voryx_test_folder(contacts voryx_contacts)
voryx_test_folder(app voryx_app)
add_dependencies(test_app voryx)  # the command-line tests run the binary
if(VORYX_QMI)
  target_compile_definitions(test_app PRIVATE VORYX_QMI=1)  # ModemManager's QMI modem is shared
endif()
voryx_test_folder(modem voryx_modem voryx_sim)
voryx_test_folder(sim voryx_sim)
voryx_test_folder(simfiles voryx_transfer voryx_sim)
# The writes also run after a CSV restore of entries/.
voryx_test_folder(transfer voryx_transfer voryx_sim voryx_entries)
# The card reader's tests, and the record tests once more over the virtual card in pcscd's
# virtual reader (the tests start pcscd when none runs). There is one such reader: they
# take turns.
voryx_test_folder(cardreader voryx_transfer voryx_sim)
target_sources(test_cardreader PRIVATE ${CMAKE_SOURCE_DIR}/tests/transfer/RecordJobTest.cpp)
target_compile_definitions(test_cardreader PRIVATE VORYX_CARD_READER)
add_dependencies(test_cardreader voryx)  # a write killed mid-message runs the binary
# The SIM's files through the real qmi-proxy (libqmi starts it) on the virtual QMI modem.
if(VORYX_QMI)
  voryx_test_folder(qmi voryx_transfer voryx_sim)
  add_dependencies(test_qmi voryx)  # a user the proxy refuses runs the binary
endif()
# The tests in which it matters how a reply ends run both ways within the suite
# (ReplyRuleTest in tests/transfer/JobFixture.h).
voryx_test_folder(kit voryx_kit)
voryx_test_folder(ui voryx_ui voryx_sim)
voryx_test_folder(web voryx_web voryx_ui)

# The binaries of the label "jobs", and what they run: the ThreadSanitizer stage of
# scripts/test.sh builds only these.
add_custom_target(voryx_job_tests)
foreach(folder IN LISTS VORYX_JOB_TEST_FOLDERS)
  if(TARGET test_${folder})
    add_dependencies(voryx_job_tests test_${folder})
  endif()
endforeach()

# Every include points down the layer table of src/README.md.
add_test(NAME layers COMMAND ${CMAKE_SOURCE_DIR}/tests/layers/check.sh ${CMAKE_SOURCE_DIR}/src)
set_tests_properties(layers PROPERTIES LABELS unit)

# The browser suite drives the real binary in Debian's Chromium. Only in the plain build.
if(VORYX_SANITIZE STREQUAL "" AND EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/playwright.config.mjs)
  add_test(NAME e2e_browser
    COMMAND npx playwright test --config ${CMAKE_SOURCE_DIR}/tests/e2e/playwright.config.mjs
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  # The longest test: a high cost makes ctest start it first, so that the short ones
  # fill the other slots around it instead of it running alone at the end.
  set_tests_properties(e2e_browser PROPERTIES LABELS e2e TIMEOUT 900 COST 100000
    ENVIRONMENT "VORYX_BIN=$<TARGET_FILE:voryx>;VORYX_BINARY_DIR=${CMAKE_BINARY_DIR};VORYX_TEST_OUT=${CMAKE_BINARY_DIR}/test-output")
endif()

# The installed tree, the .deb, the desktop entry, the manual page and serve --open, driven
# from a shell script. Only in the plain build: it installs and packages what that build made.
if(VORYX_SANITIZE STREQUAL "")
  add_test(NAME install_package
    COMMAND ${CMAKE_SOURCE_DIR}/tests/install/install.sh ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
  set_tests_properties(install_package PROPERTIES LABELS install TIMEOUT 600)
endif()
