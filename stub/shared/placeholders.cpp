#include "placeholders.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>

#include "packagefile.h"
#include "pathops.h"
#include "placeholdertable.h"
#include "registry.h"
#include "setupparams.h"

namespace {

const char kCurrentVersionKey[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\";
const char kRegOpen[] = "<REG:";

// The registry and the shell are asked only for tokens the text holds: most
// texts hold none, and every answer costs calls into the system.
bool Holds(const std::string& text, const char* token) { return std::strstr(text.c_str(), token) != nullptr; }

std::string RegistryFolder(const char* value) {
  return ReadRegistryPath(std::string(kCurrentVersionKey) + value);
}

// What a token of the table stands for on this machine and in this run.
std::string PlaceholderText(const Placeholder& placeholder) {
  switch (placeholder.value) {
    case PlaceholderValue::MinFree: return Int64ToText(SetupParams.MinFree);
    case PlaceholderValue::AppName: return SetupParams.AppName;
    case PlaceholderValue::ProgramFiles: return RegistryFolder("ProgramFilesDir");
    case PlaceholderValue::CommonFiles: return RegistryFolder("CommonFilesDir");
    case PlaceholderValue::Windows: return StripTrailingBackslash(SetupParams.WindowsDir);
    case PlaceholderValue::System: return StripTrailingBackslash(SetupParams.SystemDir);
    case PlaceholderValue::Temp: return StripTrailingBackslash(SetupParams.TempDir);
    case PlaceholderValue::Source: return AddTrailingBackslash(DirectoryPart(OwnExecutablePath()));
    case PlaceholderValue::SystemDrive: return SetupParams.WindowsDir.substr(0, 2);
    case PlaceholderValue::Install: return StripTrailingBackslash(SetupParams.ExtractDir);
    case PlaceholderValue::ShellFolder: return GetSpecialFolder(placeholder.shellFolder);
  }
  return "";
}

std::string ExpandTableTokens(std::string text) {
  for (size_t i = 0; i < kPlaceholderCount; ++i) {
    const Placeholder& placeholder = kPlaceholders[i];
    if (Holds(text, placeholder.token))
      text = ReplaceAll(placeholder.token, PlaceholderText(placeholder), text);
  }
  return text;
}

// Resolves the first "<REG:path>" and every copy of exactly that token. Without
// a ">" after the first "<REG:" the token sought is "<REG:>", which cannot
// occur there, so the text stays as it is.
std::string ExpandRegistryToken(const std::string& text) {
  const size_t open = text.find(kRegOpen);
  if (open == std::string::npos) return text;
  const size_t start = open + sizeof kRegOpen - 1;
  const size_t close = text.find('>', start);
  const std::string path = close == std::string::npos ? std::string() : text.substr(start, close - start);
  const std::string token = kRegOpen + path + ">";
  if (text.find(token) == std::string::npos) return text;
  return ReplaceAll(token, ReadRegistryPath(path), text);
}

}  // namespace

std::string ExpandPlaceholders(const std::string& text, bool ConvertBreaks) {
  std::string result = ExpandTableTokens(text);
  result = ExpandRegistryToken(result);
  if (ConvertBreaks) result = ReplaceAll("<br/>", "\r\n", result);
  return result;
}
