// Read-only lookups into the machine's configuration: registry string values
// named by one path text, and the folders of the shell. Every failure gives
// the empty text; nothing is ever written.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// The string value named by "ROOT\key\path\value", ROOT being one of HKCR,
// HKCC, HKCU, HKLM or HKU (case-sensitive). A path ending in "\" names the
// key's default value. Empty when the root is unknown, the key or value is
// missing, or the value is not REG_SZ / REG_EXPAND_SZ (the latter returned
// unexpanded).
std::string ReadRegistryPath(const std::string& path);

// Reads a REG_SZ or REG_EXPAND_SZ value of an open key into `value`, without
// its terminating NUL. True also for an empty string value; false when the
// value is missing or of another type.
bool ReadRegistryString(HKEY key, const std::string& name, std::string& value);

// The file-system path of a shell folder given by its CSIDL number, as the
// shell gives it (at most MAX_PATH characters); empty when the shell has no
// such folder or it is not a file-system folder.
std::string GetSpecialFolder(int32_t csidl);
