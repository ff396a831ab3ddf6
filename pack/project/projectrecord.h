// What a loaded project holds, and the diagnostics of loading it: the record
// that project.cpp (the [Setup] and [Package] sections) and projectfiles.cpp
// (the files a project names) fill, and the builder reads.
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "brandsettings.h"
#include "cabinet_writer.h"
#include "codepage.h"
#include "setupscript.h"
#include "signsettings.h"

// Errors and warnings as "file:line: error: text", the form editors jump to.
class Diagnostics {
 public:
  void Error(const std::string& file, int line, const std::string& text);
  void Warning(const std::string& file, int line, const std::string& text);
  bool HasErrors() const { return !errors_.empty(); }
  // True when an error was reported at this line, so that a later check of
  // the same value need not say it again.
  bool HasErrorAt(const std::string& file, int line) const { return errorLines_.count({file, line}) > 0; }
  const std::vector<std::string>& Errors() const { return errors_; }
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  std::vector<std::string> errors_;
  std::vector<std::string> warnings_;
  std::set<std::pair<std::string, int>> errorLines_;
};

struct PayloadFile {
  std::string storedName;  // in the package's code page
  std::string sourcePath;  // host path
  uint64_t size = 0;
  int line = 0;  // the [Files] line that brought it in
};

struct Project {
  std::string path;    // the project file as given
  bool read = false;   // the file was read: its keys are known, even if some are wrong
  std::string folder;  // paths in the project are relative to this
  SetupScript script;  // MinFree is final only once the payload is known
  bool minFreeGiven = false;

  // [Package]; paths are host paths, resolved against `folder`, empty when
  // not given.
  std::string output;             // default: Setup.exe beside the project file
  std::string stub;               // default: the stub found by the builder
  std::string cabinetLibrary;     // default: the project's own cabinet library
  bool noCabinetLibrary = false;  // CabinetLibrary = none
  std::string password;
  std::string language;                               // a path or a shipped language's name; default: English
  std::string languageText;                           // the block as stored, checked, in the code page
  int codePage = kDefaultCodePage;                    // of every name and text the package stores
  InputEncoding inputEncoding = InputEncoding::Utf8;  // of the project and its text files
  std::string sidePicture;                            // stored as "~DAT2A."
  std::string headerPicture;                          // stored as "~DAT2B."
  cab::Compression compression = cab::Compression::MsZip;
  int level = 6;
  int lzxWindow = 21;
  uint64_t volumeSize = 0;  // 0: one cabinet
  std::string cabinet;      // an existing cabinet used as the payload
  BrandSettings brand;      // the icon, version information and execution level of Setup.exe

  SignSettings sign;  // [Sign]

  std::vector<PayloadFile> files;       // sorted by stored name
  std::map<std::string, int> keyLines;  // "section.key" (upper case) -> line
};
