# Run by CPack on the staged tree before it is packed, for what Debian
# expects of a package: the manual page gzip-compressed, and a changelog
# (a native package's one entry: this version, dated by the commit it was
# built from). gzip -n keeps names and times out, so the bytes depend on the
# sources only.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man1/*.1")
file(GLOB_RECURSE readmes "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/doc/${CPACK_PACKAGE_NAME}/README.md")
if(NOT readmes)
  message(FATAL_ERROR "no share/doc/${CPACK_PACKAGE_NAME} in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
list(GET readmes 0 readme)
get_filename_component(doc_dir "${readme}" DIRECTORY)

execute_process(COMMAND git -C "${CPACK_VELTRA_SOURCE_DIR}" log -1 --format=%cD
  OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE no_git ERROR_QUIET)
if(no_git)
  execute_process(COMMAND date -R OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
file(WRITE "${doc_dir}/changelog"
  "${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
  "  * Version ${CPACK_PACKAGE_VERSION} of the builder, its stub and its cabinet\n"
  "    library; README.md beside this file describes them.\n\n"
  " -- ${CPACK_PACKAGE_CONTACT}  ${date}\n")

foreach(file ${pages} "${doc_dir}/changelog")
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${file} failed")
  endif()
endforeach()
