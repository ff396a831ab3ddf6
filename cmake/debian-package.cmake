# The Debian package veltra-pack, made by CPack from the install rules of
# cmake/install.cmake (scripts/package.sh builds the trees and runs it):
#   cpack --config build/host/CPackConfig.cmake -B DIR
# gives DIR/veltra-pack_VERSION_ARCH.deb, installable with
# `apt install ./veltra-pack_*.deb`. Host tree only.
set(VELTRA_PACKAGE_MAINTAINER "Veltra developers <veltra-pack@users.noreply.github.com>" CACHE STRING
  "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltra-pack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Veltra developers")
set(CPACK_PACKAGE_CONTACT ${VELTRA_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builder of self-extracting Setup.exe packages for 32-bit Windows")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "veltra-pack turns a small project file into one Setup.exe: a Windows stub with
the package appended, which installs the files with a wizard or unattended.
It also inspects, verifies and extracts finished packages without running
them, and signs them with osslsigncode. The stub and its cabinet library
come with the package; Wine runs the result for a try.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from what the installed builder links, through dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS osslsigncode)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS wine)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# The manual page compressed (man reads either form) and a changelog.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian-staged.cmake)
set(CPACK_VELTRA_SOURCE_DIR ${PROJECT_SOURCE_DIR})
include(CPack)
