// What extraction asks of the person running the setup, and what it shows
// while it works: the one way from cabinet/ to whoever is in front of it.
// Start-up fills the record in with the wizard's prompts before the first
// cabinet is opened (the information cabinet is extracted before the setup
// script says whether the run is unattended) and empties it before an
// unattended run. An empty member means that no one is there: the answer is
// the one given with it, and nothing is shown.
#pragma once
#include <cstdint>
#include <string>

struct ExtractionUiRecord {
  // An existing file at `path`: true = replace it. Empty: kept.
  bool (*AskOverwrite)(const std::string& path);
  // The volume named by VolumeSet's NextDiskName and NextCabinetName is not
  // in NextCabinetPath: true when another location was given (in
  // NextCabinetPath), false to stop the run. Empty: stopped.
  bool (*AskNextVolume)();
  // A folder or file could not be made (`text` says which): IDRETRY,
  // IDIGNORE or IDABORT, as MessageBox answers. Abort ends the run. Empty: abort.
  int (*AskAbortRetryIgnore)(const std::string& text);
  // The worker begins: the status line and a bar for `total` bytes.
  void (*BeginProgress)(int64_t total);
  // The status line, as it is to be shown.
  void (*ShowStatus)(const std::string& text);
  // `done` bytes are written or skipped.
  void (*ShowProgress)(int64_t done);
};

extern ExtractionUiRecord ExtractionUi;
