# Windows trees: every test of a directory learns which build it must run and
# where to record the Windows programs it runs (tests/pe/runlog.py). A
# directory calls veltra_windows_test_environment() after its add_test()s.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(VELTRA_PE_MACHINE 0x8664)
else()
  set(VELTRA_PE_MACHINE 0x14c)
endif()
set(VELTRA_RUN_LOG ${CMAKE_BINARY_DIR}/windows-runs.log)

function(veltra_windows_test_environment)
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(test ${tests})
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
      "VELTRA_TEST_NAME=${test}" "VELTRA_EXPECT_MACHINE=${VELTRA_PE_MACHINE}"
      "VELTRA_RUN_LOG=${VELTRA_RUN_LOG}")
  endforeach()
endfunction()
