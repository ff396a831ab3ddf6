#include "fileops.h"

#include <windows.h>

#include "pathops.h"

#include <vector>

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int32_t FileDosTime(const std::string& path) {
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA(path.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return -1;
  FindClose(search);
  if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  FILETIME local;
  WORD date = 0;
  WORD time = 0;
  if (!FileTimeToLocalFileTime(&entry.ftLastWriteTime, &local) ||
      !FileTimeToDosDateTime(&local, &date, &time)) {
    return -1;
  }
  return static_cast<int32_t>(static_cast<uint32_t>(date) << 16 | time);
}

bool FileExists(const std::string& path) {
  // Any time stamp counts: a file dated outside the DOS range is there all the
  // same, and must be found to be replaced. A name is a name, never a pattern.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FileReplaceable(const std::string& path) {
  // Replacing needs delete access, which a holder that shares nothing denies.
  const HANDLE file =
      CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return !FileExists(path);
  CloseHandle(file);
  return true;
}

bool MoveFileOver(const std::string& from, const std::string& to) {
  // A read-only file is replaced like any other, and keeps its attributes
  // when the move fails.
  const DWORD attributes = GetFileAttributesA(to.c_str());
  SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  SetFileAttributesA(to.c_str(), attributes);
  return false;
}

bool CreateFolderPath(const std::string& folder) {
  if (folder.empty()) return true;
  const std::string dir = StripTrailingBackslash(folder);
  if (dir.size() < 3 || DirectoryExists(dir)) return true;
  const std::string parent = DirectoryPart(dir);
  if (parent == dir) return true;  // a drive root counts as present
  // A name that ends in a colon is its own parent ("C:\a:" gives "C:\a:\"), and
  // a colon inside a path leads to such a name; there is nothing shorter to
  // make first, and recursing would never end.
  if (StripTrailingBackslash(parent) == dir) return CreateDirectoryA(dir.c_str(), nullptr) != 0;
  if (!CreateFolderPath(parent)) return false;
  return CreateDirectoryA(dir.c_str(), nullptr) != 0;
}

std::string CreateUniqueFolder(const std::string& base, const std::string& prefix) {
  // A base folder that cannot be written fails every candidate alike, so the
  // search stops after this many failed creations instead of trying 2^31 names.
  const int kMaxFailures = 100;
  const int64_t kMaxNumber = 1000000;
  const std::string stem = AddTrailingBackslash(base) + prefix;
  int failures = 0;
  for (int64_t n = 1; n <= kMaxNumber && failures < kMaxFailures; ++n) {
    const std::string candidate = AddTrailingBackslash(stem + Int64ToText(n));
    if (DirectoryExists(candidate)) continue;
    if (CreateFolderPath(candidate)) return candidate;
    ++failures;
  }
  return std::string();
}

bool WalkFolder(const std::string& folder, const std::string& mask, bool recurse, WalkCallback callback) {
  const std::string dir = AddTrailingBackslash(folder);
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA((dir + mask).c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool result = true;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder && recurse) {
      result = WalkFolder(dir + name + "\\", mask, true, callback);
    } else {
      result = callback(dir + name);
    }
  } while (result && FindNextFileA(search, &entry));
  // The folder itself comes last, while its own search is still open.
  if (result && (mask == "*.*" || mask == FileNamePart(folder))) result = callback(dir);
  FindClose(search);
  return result;
}

int64_t DiskFreeBytes(const std::string& path) {
  if (path.empty()) return 0;
  // Asked of the nearest folder that exists, so that a folder mounted from
  // another volume answers for that volume; what the caller may use, so that
  // a disk quota counts.
  std::string folder = AddTrailingBackslash(path);
  while (!DirectoryExists(folder)) {
    const std::string parent = AddTrailingBackslash(DirectoryPart(StripTrailingBackslash(folder)));
    if (parent == folder) return 0;
    folder = parent;
  }
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return 0;
  return available.QuadPart > 0x7FFFFFFFFFFFFFFFull ? INT64_MAX : static_cast<int64_t>(available.QuadPart);
}

std::string ReadSizedText(SizedTextReader read, uint32_t firstSize) {
  std::vector<char> buffer(firstSize ? firstSize : 1);
  // The text may grow between the calls (another thread changing TEMP).
  for (int attempt = 0; attempt < 4; ++attempt) {
    const uint32_t length = read(buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (length == 0) return "";
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.assign(length + 1, '\0');
  }
  return "";
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart < 0x40000000;
  if (ok) {
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    ok = bytes.empty() || (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
                           read == bytes.size());
  }
  CloseHandle(file);
  return ok;
}
