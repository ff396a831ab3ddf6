// How the builder finds the stub's PackageBase: the stub keeps the value in a
// record of its initialised data that starts with this 16-byte tag. The tag
// occurs exactly once in a stub file; the builder writes the package offset
// into the four bytes (little-endian) that follow it. A stub as built holds 0
// there, so a file that already carries a package is recognised and refused.
#pragma once
#include <cstdint>

// 15 characters and the terminating NUL make the 16 bytes of the tag.
#define VELTRA_PACKAGE_BASE_TAG "VELTRA:PKGBASE\xA5"

struct PackageBaseRecord {
  char Tag[16];
  int32_t Value;
};

constexpr int kPackageBaseTagSize = 16;
