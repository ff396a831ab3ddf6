// The project file: an INI file that names everything a package holds.
//
//   [Setup]    the setup script's fields (AppName ... FinalMessage), and the
//              readme and licence pages as text files (ReadmeText, LicenseText)
//   [Package]  output, stub, password, language text, cabinet library,
//              pictures, compression, volume size, or an existing cabinet
//   [Files]    stored name = source file or folder (relative to the project)
//
// Loading checks everything that can be checked without writing: every key is
// known, numbers and flags are well-formed, the named files exist and are of
// the right kind, stored names are ones the stub can write, texts read back
// as given. Each mistake is reported with the file and line it stems from.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "projectdefines.h"
#include "projectrecord.h"

// The destination when a project names none.
constexpr const char* kDefaultDestDir = "<PROGRAM FILES>\\<APPNAME>";

// Loads and checks a project file, with `defines` for its ${NAME}s. Returns
// false when `diagnostics` holds errors; warnings alone do not fail.
bool LoadProject(const std::string& path, Project& project, Diagnostics& diagnostics,
                 const Defines& defines = {});

// The line of a [Package] or [Setup] key, 0 when it was not given.
int KeyLine(const Project& project, const std::string& section, const std::string& key);

// Parses a byte count: digits with an optional K, M or G suffix (binary
// units). False for anything else, or a value that a signed 64-bit number
// cannot hold.
bool ParseByteCount(const std::string& text, uint64_t& value);

// Compression names of the project file and the command line: mszip, lzx,
// stored (or none), in any case. False for anything else.
bool ParseCompressionName(const std::string& text, cab::Compression& compression);

// An LZX window as the power of two of its size: 15 to 21.
bool ParseLzxWindow(const std::string& text, int& windowBits);
