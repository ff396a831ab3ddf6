// libFuzzer target for the two texts the stub parses from a package: the
// setup script (~DAT1.) and the language text (block 2). The first input
// byte chooses which; a script that parses is written and parsed again to
// the same fields.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "setupscript.h"
#include "uTrans.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1) {
    LangTable table;
    std::string error;
    ValidateLangText(text, table, error);
    return 0;
  }
  SetupScript script, again;
  std::string written, error;
  if (ParseSetupScript(text, script) && WriteSetupScript(script, written, error) &&
      (!ParseSetupScript(written, again) || again.AppName != script.AppName ||
       again.MinFree != script.MinFree))
    std::abort();
  return 0;
}
