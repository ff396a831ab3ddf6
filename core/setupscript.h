// The setup script "~DAT1.": what one installation does, as the builder
// writes it and the stub reads it. ANSI text, every line ended by CR LF:
//
//   line  1  AppName          text
//   line  2  (free)           text, skipped by the reader
//   line  3  Unattended       flag: true exactly for the text "1"
//   line  4  MinFree          number (TextToInt64), signed 64-bit
//   line  5  DestDir          text
//   line  6  OverwriteMode    number, low 16 bits kept
//   line  7  ShowUnpackPage   flag
//   line  8  (free)           text, skipped by the reader
//   lines 9 to 14  LaunchFile, ReadmeFile, RunProgram, RunParams,
//                  StartQuestion, FinalMessage   texts
//   then  ReadmeText   lines up to a line of three 0x01 bytes
//   then  LicenseText  lines up to a line of three 0x03 bytes
//
// A list is built as it is read: its first line becomes the text, later lines
// are appended after CR LF. Empty lines before the first text are therefore
// lost, empty lines inside or at the end stay. The end of the file before a
// list's terminator is a failure, so a cut script is never taken as whole.
//
// Lines end at CR LF, and also at a lone CR or LF (see TextLineReader), so a
// single-line field may hold neither, and a list may hold them only as CR LF.
// CheckSetupScript names every field that would not read back as written.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "pathops.h"

struct SetupScript {
  std::string AppName;
  std::string Line2;  // free for the writer; the reader skips it
  bool Unattended = false;
  int64_t MinFree = 0;
  std::string DestDir;
  uint16_t OverwriteMode = 0;  // 0 ask, 1 overwrite all, anything else keep all
  bool ShowUnpackPage = false;
  std::string Line8;  // free for the writer; the reader skips it
  std::string LaunchFile;
  std::string ReadmeFile;
  std::string RunProgram;
  std::string RunParams;
  std::string StartQuestion;
  std::string FinalMessage;
  std::string ReadmeText;   // lines joined by CR LF
  std::string LicenseText;  // lines joined by CR LF
};

extern const char kReadmeTerminator[4];   // three 0x01 bytes
extern const char kLicenseTerminator[4];  // three 0x03 bytes

// One problem per field that would not read back unchanged, each naming the
// field ("AppName: ..."); empty when the whole script round-trips.
std::vector<std::string> CheckSetupScript(const SetupScript& script);

// The file's bytes. False, with the problems of CheckSetupScript joined in
// `error`, when a field would not read back as given; nothing is written then.
bool WriteSetupScript(const SetupScript& script, std::string& bytes, std::string& error);

// The reader, over any line source with `bool ReadLine(std::string&)` that
// gives the next line without its line end and false at the end (a
// TextLineReader, or the in-memory reader behind ParseSetupScript). Fills
// `script` and returns true when both lists ended at their terminators;
// false when the source ended first. Fields read before a failure stay set.
template <class LineSource>
bool ReadSetupScriptFrom(LineSource& source, SetupScript& script);

// The reader over a script's bytes.
bool ParseSetupScript(const std::string& bytes, SetupScript& script);
// The reader over a file; false also when the file cannot be opened or read.
bool ReadSetupScriptFile(const std::string& path, SetupScript& script);

// --- the reader's rules, shared by every line source --------------------------

inline bool SetupScriptFlag(const std::string& line) { return line == "1"; }

template <class LineSource>
bool ReadSetupScriptList(LineSource& source, const char* terminator, std::string& list) {
  list.clear();
  std::string line;
  while (source.ReadLine(line)) {
    if (line == terminator) return true;
    if (list.empty()) {
      list = line;
    } else {
      list += "\r\n";
      list += line;
    }
  }
  return false;
}

template <class LineSource>
bool ReadSetupScriptFrom(LineSource& source, SetupScript& script) {
  std::string line[15];
  for (int i = 1; i <= 14; ++i) {
    if (!source.ReadLine(line[i])) return false;
  }
  script.AppName = line[1];
  script.Line2 = line[2];
  script.Unattended = SetupScriptFlag(line[3]);
  script.MinFree = TextToInt64(line[4]);
  script.DestDir = line[5];
  script.OverwriteMode = static_cast<uint16_t>(TextToInt64(line[6]));
  script.ShowUnpackPage = SetupScriptFlag(line[7]);
  script.Line8 = line[8];
  script.LaunchFile = line[9];
  script.ReadmeFile = line[10];
  script.RunProgram = line[11];
  script.RunParams = line[12];
  script.StartQuestion = line[13];
  script.FinalMessage = line[14];
  return ReadSetupScriptList(source, kReadmeTerminator, script.ReadmeText) &&
         ReadSetupScriptList(source, kLicenseTerminator, script.LicenseText);
}
