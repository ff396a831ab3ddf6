# The CPack External script of VeltraPack: packs the staged install tree
# into one Setup.exe. find_package(VeltraPack) names it as
# CPACK_EXTERNAL_PACKAGE_SCRIPT and turns on CPACK_EXTERNAL_ENABLE_STAGING;
# `cpack -G External` then runs it, and the Setup.exe lands in the build
# folder as ${CPACK_PACKAGE_FILE_NAME}.exe.
#
# Every component that CPack installs goes into the one Setup.exe, each
# component's tree merged at the top of the destination.
#
# Without CPACK_VELTRA_PROJECT a project file is written from:
#   CPACK_PACKAGE_NAME           AppName and ProductName
#   CPACK_PACKAGE_INSTALL_DIRECTORY  DestDir: <PROGRAM FILES>\ and this
#   CPACK_PACKAGE_VERSION        ProductVersion (when it is 1 to 4 numbers)
#   CPACK_PACKAGE_VENDOR         CompanyName
#   CPACK_RESOURCE_FILE_LICENSE  LicenseText (not CMake's generic one)
#   CPACK_VELTRA_DEST_DIR, CPACK_VELTRA_UNATTENDED, CPACK_VELTRA_RUN_PROGRAM,
#   CPACK_VELTRA_RUN_PARAMS, CPACK_VELTRA_LANGUAGE, CPACK_VELTRA_ICON
#                                DestDir, Unattended, RunProgram, RunParams,
#                                Language, Icon
# CPACK_VELTRA_PROJECT names a project file of the author's instead; it is
# built with the defines below, so that ${INSTALL_TREE} in its [Files] names
# the staged tree (with components: the folder holding one folder each).
# Both get -D PACKAGE_NAME, PACKAGE_VERSION, PACKAGE_VENDOR,
# INSTALL_DIRECTORY, INSTALL_TREE and LICENSE_FILE, then CPACK_VELTRA_DEFINES
# (NAME=VALUE ...) and CPACK_VELTRA_OPTIONS (further `veltra-pack build`
# options). CPACK_VELTRA_EXECUTABLE is the veltra-pack that find_package
# found, unless the project set another.

if(NOT CPACK_VELTRA_EXECUTABLE OR NOT EXISTS "${CPACK_VELTRA_EXECUTABLE}")
  message(FATAL_ERROR "VeltraPack: no veltra-pack at '${CPACK_VELTRA_EXECUTABLE}'; "
    "call find_package(VeltraPack) before include(CPack), or set CPACK_VELTRA_EXECUTABLE")
endif()

set(_tree "${CPACK_TEMPORARY_DIRECTORY}")
if(NOT IS_DIRECTORY "${_tree}")
  message(FATAL_ERROR "VeltraPack: no staged install tree at ${_tree}; "
    "set CPACK_EXTERNAL_ENABLE_STAGING")
endif()

# With components (and not CPACK_MONOLITHIC_INSTALL) CPack stages each one in
# a folder of its own name; below it (or the tree) lies the install prefix.
set(_roots "${_tree}")
if(CPACK_COMPONENTS_ALL AND NOT CPACK_MONOLITHIC_INSTALL)
  list(TRANSFORM CPACK_COMPONENTS_ALL PREPEND "${_tree}/" OUTPUT_VARIABLE _roots)
endif()
if(CPACK_PACKAGING_INSTALL_PREFIX AND NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/")
  list(TRANSFORM _roots APPEND "/${CPACK_PACKAGING_INSTALL_PREFIX}")
endif()
# A component that installs nothing leaves no folder.
set(_present)
foreach(_root IN LISTS _roots)
  if(IS_DIRECTORY "${_root}")
    list(APPEND _present "${_root}")
  endif()
endforeach()
set(_roots ${_present})
file(GLOB_RECURSE _staged LIST_DIRECTORIES false "${_tree}/*")
if(NOT _staged)
  message(FATAL_ERROR "VeltraPack: the install tree ${_tree} holds no file")
endif()

set(_license "")
if(CPACK_RESOURCE_FILE_LICENSE AND
   NOT CPACK_RESOURCE_FILE_LICENSE STREQUAL "${CMAKE_ROOT}/Templates/CPack.GenericLicense.txt")
  set(_license "${CPACK_RESOURCE_FILE_LICENSE}")
endif()

# Values reach the project file as defines, which the builder puts in after
# reading the line, so no text of the author's is taken for a comment, a
# quote or another define.
set(_defines
  "PACKAGE_NAME=${CPACK_PACKAGE_NAME}"
  "PACKAGE_VERSION=${CPACK_PACKAGE_VERSION}"
  "PACKAGE_VENDOR=${CPACK_PACKAGE_VENDOR}"
  "INSTALL_DIRECTORY=${CPACK_PACKAGE_INSTALL_DIRECTORY}"
  "INSTALL_TREE=${_tree}"
  "LICENSE_FILE=${_license}")
foreach(_key DEST_DIR RUN_PROGRAM RUN_PARAMS LANGUAGE ICON)
  if(DEFINED CPACK_VELTRA_${_key})
    list(APPEND _defines "VELTRA_${_key}=${CPACK_VELTRA_${_key}}")
  endif()
endforeach()
list(APPEND _defines ${CPACK_VELTRA_DEFINES})

if(CPACK_VELTRA_PROJECT)
  set(_project "${CPACK_VELTRA_PROJECT}")
else()
  set(_project "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.ini")
  set(_text "[Setup]\nAppName = \${PACKAGE_NAME}\n")
  if(DEFINED CPACK_VELTRA_DEST_DIR)
    string(APPEND _text "DestDir = \${VELTRA_DEST_DIR}\n")
  elseif(CPACK_PACKAGE_INSTALL_DIRECTORY)
    string(APPEND _text "DestDir = <PROGRAM FILES>\\\${INSTALL_DIRECTORY}\n")
  endif()
  if(CPACK_VELTRA_UNATTENDED)
    string(APPEND _text "Unattended = 1\n")
  endif()
  if(CPACK_VELTRA_RUN_PROGRAM)
    string(APPEND _text "RunProgram = \${VELTRA_RUN_PROGRAM}\n")
  endif()
  if(CPACK_VELTRA_RUN_PARAMS)
    string(APPEND _text "RunParams = \${VELTRA_RUN_PARAMS}\n")
  endif()
  if(_license)
    string(APPEND _text "LicenseText = \${LICENSE_FILE}\n")
  endif()
  string(APPEND _text "[Package]\nProductName = \${PACKAGE_NAME}\n")
  if(CPACK_PACKAGE_VENDOR)
    string(APPEND _text "CompanyName = \${PACKAGE_VENDOR}\n")
  endif()
  # Version information takes one to four numbers; other versions are left out.
  if(CPACK_PACKAGE_VERSION MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
    string(APPEND _text "ProductVersion = \${PACKAGE_VERSION}\n")
  endif()
  if(CPACK_VELTRA_LANGUAGE)
    string(APPEND _text "Language = \${VELTRA_LANGUAGE}\n")
  endif()
  if(CPACK_VELTRA_ICON)
    string(APPEND _text "Icon = \${VELTRA_ICON}\n")
  endif()
  string(APPEND _text "[Files]\n")
  set(_index 0)
  foreach(_root IN LISTS _roots)
    list(APPEND _defines "VELTRA_ROOT_${_index}=${_root}")
    string(APPEND _text "\\ = \${VELTRA_ROOT_${_index}}\n")
    math(EXPR _index "${_index} + 1")
  endforeach()
  file(WRITE "${_project}" "${_text}")
endif()

set(_output "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.exe")
set(_arguments build "${_project}" -o "${_output}")
foreach(_define IN LISTS _defines)
  list(APPEND _arguments -D "${_define}")
endforeach()
execute_process(COMMAND "${CPACK_VELTRA_EXECUTABLE}" ${_arguments} ${CPACK_VELTRA_OPTIONS}
  RESULT_VARIABLE _result)
if(NOT _result EQUAL 0)
  message(FATAL_ERROR "VeltraPack: veltra-pack build ${_project} failed (${_result})")
endif()

# A split package leaves its follow-up volumes beside Setup.exe.
file(GLOB _volumes "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}-*.cab")
set(CPACK_EXTERNAL_BUILT_PACKAGES "${_output}" ${_volumes})
