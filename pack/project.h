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

#include "cabwriter.h"
#include "setupscript.h"

// Errors and warnings as "file:line: error: text", the form editors jump to.
class Diagnostics {
 public:
  void Error(const std::string& file, int line, const std::string& text);
  void Warning(const std::string& file, int line, const std::string& text);
  bool HasErrors() const { return !errors_.empty(); }
  const std::vector<std::string>& Errors() const { return errors_; }
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  std::vector<std::string> errors_;
  std::vector<std::string> warnings_;
};

struct PayloadFile {
  std::string storedName;
  std::string sourcePath;  // host path
  uint64_t size = 0;
  int line = 0;            // the [Files] line that brought it in
};

struct Project {
  std::string path;    // the project file as given
  std::string folder;  // paths in the project are relative to this
  SetupScript script;  // MinFree is final only once the payload is known
  bool minFreeGiven = false;

  // [Package]; paths are host paths, resolved against `folder`, empty when
  // not given.
  std::string output;          // default: Setup.exe beside the project file
  std::string stub;            // default: the stub found by the builder
  std::string cabinetLibrary;  // default: the project's own cabinet library
  bool noCabinetLibrary = false;  // CabinetLibrary = none
  std::string password;
  std::string language;        // default: the built-in English texts
  std::string languageText;    // its bytes, already checked
  std::string sidePicture;     // stored as "~DAT2A."
  std::string headerPicture;   // stored as "~DAT2B."
  CabCompression compression = CabCompression::MsZip;
  int level = 6;
  uint64_t volumeSize = 0;     // 0: one cabinet
  std::string cabinet;         // an existing cabinet used as the payload

  std::vector<PayloadFile> files;  // sorted by stored name
  std::map<std::string, int> keyLines;  // "section.key" (upper case) -> line
};

// Loads and checks a project file. Returns false when `diagnostics` holds
// errors; warnings alone do not fail.
bool LoadProject(const std::string& path, Project& project, Diagnostics& diagnostics);

// The line of a [Package] or [Setup] key, 0 when it was not given.
int KeyLine(const Project& project, const std::string& section, const std::string& key);

// Parses a byte count: digits with an optional K, M or G suffix (binary
// units). False for anything else, or a value that a signed 64-bit number
// cannot hold.
bool ParseByteCount(const std::string& text, uint64_t& value);
