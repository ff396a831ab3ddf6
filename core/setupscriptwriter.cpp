// The writer's half of the setup script: the checks that every field reads
// back as written, and the bytes. Only the builder writes scripts; kept apart
// from the reader so that the stub carries none of its texts.
#include "pathops.h"
#include "setupscript.h"

namespace {

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

// A single-line field reads back unchanged unless it holds a line end.
void CheckLine(const char* field, const std::string& text, std::vector<std::string>& problems) {
  if (HasLineBreak(text))
    problems.push_back(std::string(field) + ": a single-line field may not hold CR or LF");
  if (text.find('\0') != std::string::npos)
    problems.push_back(std::string(field) + ": holds a NUL byte, where Windows would cut the text");
}

// Splits a list text at its CR LF pairs.
std::vector<std::string> ListLines(const std::string& text) {
  std::vector<std::string> lines;
  if (text.empty()) return lines;
  size_t at = 0;
  while (true) {
    const size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 2;
  }
  return lines;
}

void CheckList(const char* field, const std::string& text, const char* terminator,
               std::vector<std::string>& problems) {
  const std::vector<std::string> lines = ListLines(text);
  const std::string where = std::string(field) + ": ";
  if (!lines.empty() && lines[0].empty())
    problems.push_back(where + "starts with an empty line, which the reader drops");
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string line = "line " + std::to_string(i + 1);
    if (HasLineBreak(lines[i]))
      problems.push_back(where + line + " holds a CR or LF that is not part of a CR LF pair");
    if (lines[i] == terminator) problems.push_back(where + line + " equals the list's terminator line");
  }
  if (text.find('\0') != std::string::npos)
    problems.push_back(where + "holds a NUL byte, where Windows would cut the text");
}

void AddLine(std::string& bytes, const std::string& line) {
  bytes += line;
  bytes += "\r\n";
}

}  // namespace

std::vector<std::string> CheckSetupScript(const SetupScript& s) {
  std::vector<std::string> problems;
  CheckLine("AppName", s.AppName, problems);
  CheckLine("line 2", s.Line2, problems);
  CheckLine("DestDir", s.DestDir, problems);
  CheckLine("line 8", s.Line8, problems);
  CheckLine("LaunchFile", s.LaunchFile, problems);
  CheckLine("ReadmeFile", s.ReadmeFile, problems);
  CheckLine("RunProgram", s.RunProgram, problems);
  CheckLine("RunParams", s.RunParams, problems);
  CheckLine("StartQuestion", s.StartQuestion, problems);
  CheckLine("FinalMessage", s.FinalMessage, problems);
  CheckList("ReadmeText", s.ReadmeText, kReadmeTerminator, problems);
  CheckList("LicenseText", s.LicenseText, kLicenseTerminator, problems);
  return problems;
}

bool WriteSetupScript(const SetupScript& s, std::string& bytes, std::string& error) {
  const std::vector<std::string> problems = CheckSetupScript(s);
  if (!problems.empty()) {
    error.clear();
    for (const std::string& p : problems) error += (error.empty() ? "" : "; ") + p;
    return false;
  }
  bytes.clear();
  AddLine(bytes, s.AppName);
  AddLine(bytes, s.Line2);
  AddLine(bytes, s.Unattended ? "1" : "0");
  AddLine(bytes, Int64ToText(s.MinFree));
  AddLine(bytes, s.DestDir);
  AddLine(bytes, Int64ToText(s.OverwriteMode));
  AddLine(bytes, s.ShowUnpackPage ? "1" : "0");
  AddLine(bytes, s.Line8);
  AddLine(bytes, s.LaunchFile);
  AddLine(bytes, s.ReadmeFile);
  AddLine(bytes, s.RunProgram);
  AddLine(bytes, s.RunParams);
  AddLine(bytes, s.StartQuestion);
  AddLine(bytes, s.FinalMessage);
  for (const std::string& line : ListLines(s.ReadmeText)) AddLine(bytes, line);
  AddLine(bytes, kReadmeTerminator);
  for (const std::string& line : ListLines(s.LicenseText)) AddLine(bytes, line);
  AddLine(bytes, kLicenseTerminator);
  return true;
}
