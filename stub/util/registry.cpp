#include "registry.h"

#include <shlobj.h>

#include "pathops.h"

namespace {

struct RegistryRoot {
  const char* prefix;
  HKEY key;
};

// Compared in this order on the first characters of the path; "HKU" comes
// last so that it cannot shadow a longer abbreviation.
const RegistryRoot kRoots[] = {
    {"HKCR", HKEY_CLASSES_ROOT},  {"HKCC", HKEY_CURRENT_CONFIG}, {"HKCU", HKEY_CURRENT_USER},
    {"HKLM", HKEY_LOCAL_MACHINE}, {"HKU", HKEY_USERS},
};

// The root key named at the start of `path` (null when none is) and the
// number of characters that precede the key path: the abbreviation and the
// separator after it, whatever character that is.
HKEY PickRoot(const std::string& path, size_t& skip) {
  for (const RegistryRoot& root : kRoots) {
    const size_t n = std::char_traits<char>::length(root.prefix);
    if (path.compare(0, n, root.prefix) == 0) {
      skip = n + 1;
      return root.key;
    }
  }
  skip = 5;
  return nullptr;
}

// Opens the key in `view` and reads the value; false when either fails.
bool ReadFromView(HKEY root, const std::string& keyPath, const std::string& valueName, REGSAM view,
                  std::string& value) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return false;
  const bool found = ReadRegistryString(key, valueName, value);
  RegCloseKey(key);
  return found;
}

// The product is a 32-bit program, which on 64-bit Windows sees the 32-bit
// view of HKLM\Software (ProgramFilesDir is "...\Program Files (x86)" there)
// and passes nothing but the query right. The 64-bit build, which exists for
// test machines, asks for that view first and reads its own view only when
// the 32-bit one lacks the key or value: a 64-bit Wine prefix without 32-bit
// support has an almost empty 32-bit view.
bool ReadValue(HKEY root, const std::string& keyPath, const std::string& valueName, std::string& value) {
#ifdef _WIN64
  if (ReadFromView(root, keyPath, valueName, KEY_WOW64_32KEY, value)) return true;
#endif
  return ReadFromView(root, keyPath, valueName, 0, value);
}

}  // namespace

bool ReadRegistryString(HKEY key, const std::string& name, std::string& value) {
  value.clear();
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  if (size < 2) return true;
  // One byte more than the stored size, so that a value stored without its
  // NUL still leaves room for the one the system may add.
  std::string data(size + 1, '\0');
  DWORD got = size;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &got) !=
      ERROR_SUCCESS)
    return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  data.resize(got);
  // The stored size counts the terminator; drop it and anything after it.
  const size_t nul = data.find('\0');
  if (nul != std::string::npos) data.resize(nul);
  value = data;
  return true;
}

std::string ReadRegistryPath(const std::string& path) {
  size_t skip = 0;
  const HKEY root = PickRoot(path, skip);
  if (root == nullptr) return std::string();
  const std::string rest = skip < path.size() ? path.substr(skip) : std::string();
  const std::string keyPath = DirectoryPart(rest);
  const std::string valueName = FileNamePart(rest);

  std::string value;
  if (!ReadValue(root, keyPath, valueName, value)) value.clear();
  return value;
}

std::string GetSpecialFolder(int32_t csidl) {
  std::string result;
  IMalloc* allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator))) allocator = nullptr;

  LPITEMIDLIST items = nullptr;
  if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) && items != nullptr) {
    char buffer[MAX_PATH + 1] = {};
    if (SHGetPathFromIDListA(items, buffer)) result = buffer;
    if (allocator != nullptr) allocator->Free(items);
  }
  if (allocator != nullptr) allocator->Release();
  return result;
}
