# VeltraPack: makes Veltra Setup.exe packages from a CMake project.
#
#   find_package(VeltraPack 0.9 REQUIRED)
#   veltra_add_setup(<name> PROJECT file.ini [OUTPUT file] [ALL]
#                    [FILES file...] [DEPENDS target...] [DEFINES NAME=VALUE...]
#                    [OPTIONS builder-option...])
#
# Gives the imported executable VeltraPack::veltra-pack, found relative to
# this file (PREFIX/lib/cmake/VeltraPack -> PREFIX/bin), so the installed
# tree may be moved as a whole; and VeltraPack_CPACK_SCRIPT, the CPack
# External script that packs an install tree (see VeltraPackCPack.cmake).
# When cross-compiling, find it with NO_CMAKE_FIND_ROOT_PATH: it is a tool of
# the build machine, not a library of the target.
cmake_minimum_required(VERSION 3.20)

get_filename_component(_veltra_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(CMAKE_HOST_WIN32)
  set(_veltra_exe "${_veltra_prefix}/bin/veltra-pack.exe")
else()
  set(_veltra_exe "${_veltra_prefix}/bin/veltra-pack")
endif()
if(NOT EXISTS "${_veltra_exe}")
  set(VeltraPack_FOUND FALSE)
  set(VeltraPack_NOT_FOUND_MESSAGE "${_veltra_exe} is missing beside this VeltraPack package")
  return()
endif()

if(NOT TARGET VeltraPack::veltra-pack)
  add_executable(VeltraPack::veltra-pack IMPORTED)
  set_target_properties(VeltraPack::veltra-pack PROPERTIES IMPORTED_LOCATION "${_veltra_exe}")
endif()
set(VeltraPack_EXECUTABLE "${_veltra_exe}")
set(VeltraPack_CPACK_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/VeltraPackCPack.cmake")
unset(_veltra_exe)
unset(_veltra_prefix)

# A project that packs with `cpack -G External` needs only include(CPack)
# after find_package; its own settings of these are kept. Verbatim
# variables keep the backslashes of Windows paths such as
# CPACK_VELTRA_RUN_PROGRAM, which CPack's config file would otherwise read
# as escapes.
if(NOT DEFINED CPACK_VERBATIM_VARIABLES)
  set(CPACK_VERBATIM_VARIABLES ON)
endif()
if(NOT DEFINED CPACK_EXTERNAL_PACKAGE_SCRIPT)
  set(CPACK_EXTERNAL_PACKAGE_SCRIPT "${VeltraPack_CPACK_SCRIPT}")
endif()
if(NOT DEFINED CPACK_EXTERNAL_ENABLE_STAGING)
  set(CPACK_EXTERNAL_ENABLE_STAGING ON)
endif()
if(NOT DEFINED CPACK_VELTRA_EXECUTABLE)
  set(CPACK_VELTRA_EXECUTABLE "${VeltraPack_EXECUTABLE}")
endif()

# A custom target <name> that runs `veltra-pack build PROJECT -o OUTPUT`.
#   PROJECT  the project file (relative: to the current source folder)
#   OUTPUT   the Setup.exe to write (relative: to the current binary folder;
#            default <name>.exe there); it overrides the project's Output
#   ALL      build it with the default target
#   FILES    further files the package is made from (sources named in the
#            project, its texts and pictures): a change to one rebuilds it
#   DEPENDS  targets whose files go into the package: they are built first,
#            and a change to one rebuilds it; $<TARGET_FILE:t> in DEFINES
#            names the file
#   DEFINES  NAME=VALUE pairs, each given as -D NAME=VALUE: ${NAME} in the
#            project takes the value (generator expressions allowed)
#   OPTIONS  further options of `veltra-pack build`, as they are written
#            (e.g. --compression lzx, or the --sign-* options)
function(veltra_add_setup name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "ALL" "PROJECT;OUTPUT" "FILES;DEPENDS;DEFINES;OPTIONS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "veltra_add_setup(${name}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_PROJECT)
    message(FATAL_ERROR "veltra_add_setup(${name}): PROJECT file.ini is required")
  endif()
  get_filename_component(project "${arg_PROJECT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT arg_OUTPUT)
    set(arg_OUTPUT "${name}.exe")
  endif()
  get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  set(files)
  foreach(file IN LISTS arg_FILES)
    get_filename_component(file "${file}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND files "${file}")
  endforeach()
  set(defines)
  foreach(define IN LISTS arg_DEFINES)
    if(NOT define MATCHES "^[A-Za-z_][A-Za-z0-9_]*=")
      message(FATAL_ERROR "veltra_add_setup(${name}): DEFINES takes NAME=VALUE, not ${define}")
    endif()
    list(APPEND defines -D "${define}")
  endforeach()
  # The tool by its file, not its target name: a cross-compiling project's
  # emulator would otherwise be put in front of this build-machine program.
  set(tool "$<TARGET_FILE:VeltraPack::veltra-pack>")
  add_custom_command(OUTPUT "${output}"
    COMMAND "${tool}" build "${project}" -o "${output}" ${defines} ${arg_OPTIONS}
    DEPENDS "${project}" ${files} ${arg_DEPENDS} "${tool}"
    COMMENT "Packing ${output}"
    VERBATIM)
  set(all)
  if(arg_ALL)
    set(all ALL)
  endif()
  add_custom_target(${name} ${all} DEPENDS "${output}")
  set_target_properties(${name} PROPERTIES VELTRA_SETUP_FILE "${output}")
endfunction()
