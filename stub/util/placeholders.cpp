#include "placeholders.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>

#include "packagefile.h"
#include "pathops.h"
#include "registry.h"
#include "setupparams.h"

namespace {

// Shell folders in the order their tokens are replaced.
struct FolderToken {
  const char* token;
  int32_t csidl;
};

const FolderToken kFolderTokens[] = {
    {"<DESKTOP>", CSIDL_DESKTOPDIRECTORY},
    {"<FAVORITES>", CSIDL_FAVORITES},
    {"<SENDTO>", CSIDL_SENDTO},
    {"<FONTS>", CSIDL_FONTS},
    {"<APPDATA>", CSIDL_APPDATA},
    {"<COMMON_STARTUP>", CSIDL_COMMON_STARTUP},
    {"<COMMON_DESKTOP>", CSIDL_COMMON_DESKTOPDIRECTORY},
    {"<COMMON_APPDATA>", CSIDL_COMMON_APPDATA},
    {"<STARTUP>", CSIDL_STARTUP},
    {"<PROGRAMS>", CSIDL_PROGRAMS},
    {"<STARTMENU>", CSIDL_STARTMENU},
    {"<COMMON_PROGRAMS>", CSIDL_COMMON_PROGRAMS},
    {"<COMMON_STARTMENU>", CSIDL_COMMON_STARTMENU},
};

const char kCurrentVersionKey[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\";
const char kRegOpen[] = "<REG:";

// The registry and the shell are asked only for tokens the text holds: most
// texts hold none, and every answer costs calls into the system.
bool Holds(const std::string& text, const char* token) { return std::strstr(text.c_str(), token) != nullptr; }

std::string ReplaceRegistryToken(const char* token, const char* value, const std::string& text) {
  if (!Holds(text, token)) return text;
  return ReplaceAll(token, ReadRegistryPath(std::string(kCurrentVersionKey) + value), text);
}

// Values from the setup parameters and the registry, up to "<INSTALL>".
std::string ExpandFixedTokens(std::string text) {
  text = ReplaceAll("<MIN_FREE>", Int64ToText(SetupParams.MinFree), text);
  text = ReplaceAll("<APPNAME>", SetupParams.AppName, text);
  text = ReplaceRegistryToken("<PROGRAM FILES>", "ProgramFilesDir", text);
  text = ReplaceRegistryToken("<COMMON>", "CommonFilesDir", text);
  text = ReplaceAll("<WIN>", StripTrailingBackslash(SetupParams.WindowsDir), text);
  text = ReplaceAll("<SYS>", StripTrailingBackslash(SetupParams.SystemDir), text);
  text = ReplaceAll("<TEMP>", StripTrailingBackslash(SetupParams.TempDir), text);
  // "<SRC>" keeps its backslash: scripts write "<SRC>name" but "<WIN>\name".
  text = ReplaceAll("<SRC>", AddTrailingBackslash(DirectoryPart(OwnExecutablePath())), text);
  text = ReplaceAll("<SYSTEM DRIVE>", SetupParams.WindowsDir.substr(0, 2), text);
  text = ReplaceAll("<INSTALL>", StripTrailingBackslash(SetupParams.ExtractDir), text);
  return text;
}

std::string ExpandFolderTokens(std::string text) {
  for (const FolderToken& folder : kFolderTokens) {
    if (Holds(text, folder.token)) text = ReplaceAll(folder.token, GetSpecialFolder(folder.csidl), text);
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
  std::string result = ExpandFolderTokens(ExpandFixedTokens(text));
  result = ExpandRegistryToken(result);
  if (ConvertBreaks) result = ReplaceAll("<br/>", "\r\n", result);
  return result;
}
