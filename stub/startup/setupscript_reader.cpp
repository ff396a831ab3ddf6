#include "setupscript_reader.h"

#include "pathops.h"
#include "setupparams.h"
#include "textlines.h"

namespace {

bool IsFlag(const std::string& line) { return line == "1"; }

// Lines up to the terminator: empty lines before the first text are dropped,
// later ones stay as line breaks. The end of the file before the terminator
// is a failure.
bool ReadList(TextLineReader& reader, const std::string& terminator, std::string& list) {
  list.clear();
  std::string line;
  while (reader.ReadLine(line)) {
    if (line == terminator) return true;
    list += list.empty() ? line : "\r\n" + line;
  }
  return false;
}

}  // namespace

bool ReadSetupScript(const std::string& path) {
  TextLineReader reader(path);
  if (!reader.IsOpen()) return false;
  std::string line[15];
  for (int i = 1; i <= 14; ++i) {
    if (!reader.ReadLine(line[i])) return false;
  }
  SetupParams.AppName = line[1];
  SetupParams.Unattended = IsFlag(line[3]);
  SetupParams.MinFree = TextToInt64(line[4]);
  SetupParams.DestDir = line[5];
  SetupParams.OverwriteMode = static_cast<uint16_t>(TextToInt64(line[6]));
  SetupParams.ShowUnpackPage = IsFlag(line[7]);
  SetupParams.LaunchFile = line[9];
  SetupParams.ReadmeFile = line[10];
  SetupParams.RunProgram = line[11];
  SetupParams.RunParams = line[12];
  SetupParams.StartQuestion = line[13];
  SetupParams.FinalMessage = line[14];
  return ReadList(reader, std::string(3, '\x01'), SetupParams.ReadmeText) &&
         ReadList(reader, std::string(3, '\x03'), SetupParams.LicenseText) && !reader.Failed();
}
