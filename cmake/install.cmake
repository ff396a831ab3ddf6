# The builder as installed (`cmake --install build/host --prefix PREFIX`):
#   PREFIX/bin/veltra-pack
#   PREFIX/lib/veltra/         the win32 tree's stub and cabinet library
#   PREFIX/share/veltra/lang/  the shipped language files
#   PREFIX/share/man/man1/veltra-pack.1, PREFIX/share/bash-completion/completions/veltra-pack
#   PREFIX/share/doc/veltra-pack/  README.md, copyright
# The builder finds the stub and library at ../lib/veltra from its own
# folder, so the fixed folder names here (not GNUInstallDirs, whose lib
# folder varies by system) keep the tree relocatable.
# Host tree only; the win32 tree named by VELTRA_WIN32_BUILD must be built.

# The manual page and the completion are written by the builder itself from
# its command-line definitions and its table of project keys.
set(veltra_doc_dir ${CMAKE_BINARY_DIR}/doc)
set(VELTRA_MAN_PAGE ${veltra_doc_dir}/veltra-pack.1)
set(VELTRA_BASH_COMPLETION ${veltra_doc_dir}/veltra-pack.bash)
add_custom_command(OUTPUT ${VELTRA_MAN_PAGE} ${VELTRA_BASH_COMPLETION}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${veltra_doc_dir}
  COMMAND sh -c "\"$0\" help --man >\"$1\" && \"$0\" help --completion bash >\"$2\""
    $<TARGET_FILE:veltra-pack> ${VELTRA_MAN_PAGE} ${VELTRA_BASH_COMPLETION}
  DEPENDS veltra-pack
  COMMENT "Writing the manual page and the bash completion of veltra-pack"
  VERBATIM)
add_custom_target(veltra_pack_docs ALL DEPENDS ${VELTRA_MAN_PAGE} ${VELTRA_BASH_COMPLETION})

set(veltra_win32_files ${VELTRA_WIN32_BUILD}/stub/veltra-stub.exe ${VELTRA_WIN32_BUILD}/fdi/cabinet-veltra.dll)
set(veltra_missing_message "build the win32 tree first (scripts/build.sh), or point VELTRA_WIN32_BUILD at one")
install(CODE "
  foreach(file ${veltra_win32_files})
    if(NOT EXISTS \${file})
      message(FATAL_ERROR \"\${file} is missing: ${veltra_missing_message}\")
    endif()
  endforeach()")
install(TARGETS veltra-pack RUNTIME DESTINATION bin)
install(FILES ${veltra_win32_files} DESTINATION lib/veltra)
file(GLOB veltra_language_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/lang/*.lng)
install(FILES ${veltra_language_files} DESTINATION share/veltra/lang)
install(FILES ${VELTRA_MAN_PAGE} DESTINATION share/man/man1)
install(FILES ${VELTRA_BASH_COMPLETION} DESTINATION share/bash-completion/completions RENAME veltra-pack)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/copyright
  DESTINATION share/doc/veltra-pack)

# The Debian package built from this tree, unpacked into a scratch root and
# moved to a second prefix: the installed tool alone builds and verifies the
# demo; its manual page and completion are checked (pack/tests/install_test.py).
find_program(PYTHON3 python3)
if(PYTHON3)
  add_test(NAME pack_installed_package COMMAND ${PYTHON3} ${PROJECT_SOURCE_DIR}/pack/tests/install_test.py)
  set_tests_properties(pack_installed_package PROPERTIES
    TIMEOUT 300
    ENVIRONMENT "VELTRA_CPACK=${CMAKE_CPACK_COMMAND};VELTRA_CPACK_CONFIG=${CMAKE_BINARY_DIR}/CPackConfig.cmake;VELTRA_PACK=$<TARGET_FILE:veltra-pack>;VELTRA_SOURCE=${PROJECT_SOURCE_DIR};PYTHONDONTWRITEBYTECODE=1")
endif()
