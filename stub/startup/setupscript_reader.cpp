#include "setupscript_reader.h"

#include "setupparams.h"
#include "setupscript.h"

bool ReadSetupScript(const std::string& path) {
  SetupScript script;
  if (!ReadSetupScriptFile(path, script)) return false;
  SetupParams.AppName = script.AppName;
  SetupParams.Unattended = script.Unattended;
  SetupParams.MinFree = script.MinFree;
  SetupParams.DestDir = script.DestDir;
  SetupParams.OverwriteMode = script.OverwriteMode;
  SetupParams.ShowUnpackPage = script.ShowUnpackPage;
  SetupParams.LaunchFile = script.LaunchFile;
  SetupParams.ReadmeFile = script.ReadmeFile;
  SetupParams.RunProgram = script.RunProgram;
  SetupParams.RunParams = script.RunParams;
  SetupParams.StartQuestion = script.StartQuestion;
  SetupParams.FinalMessage = script.FinalMessage;
  SetupParams.ReadmeText = script.ReadmeText;
  SetupParams.LicenseText = script.LicenseText;
  return true;
}
