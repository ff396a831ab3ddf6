#include "setupscript_reader.h"

#include "setupparams.h"
#include "setupscript.h"

bool ReadSetupScript(const std::string& path) {
  SetupScript script;
  if (!ReadSetupScriptFile(path, script)) return false;
  static_cast<SetupScript&>(SetupParams) = script;
  return true;
}
