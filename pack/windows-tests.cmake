# Windows trees: the builder built from the same sources must write the same
# bytes as the host builder on the same project. Registered where this tree's
# programs run under Wine, and only when the host tree is known.
if(NOT VELTRA_RUN_WINDOWS_TESTS OR NOT VELTRA_HOST_BUILD)
  return()
endif()
find_program(PYTHON3 python3 REQUIRED)
add_test(NAME pack_windows_builder_same_bytes
  COMMAND ${PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows_builder_test.py)
set_tests_properties(pack_windows_builder_same_bytes PROPERTIES
  TIMEOUT 900
  ENVIRONMENT "VELTRA_PACK_HOST=${VELTRA_HOST_BUILD}/pack/veltra-pack;VELTRA_PACK_WINDOWS=$<TARGET_FILE:veltra-pack>;VELTRA_WINE=${CMAKE_SOURCE_DIR}/scripts/wine-run.sh;PYTHONDONTWRITEBYTECODE=1")
veltra_windows_test_environment()
