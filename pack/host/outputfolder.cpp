#include "outputfolder.h"

#include <cerrno>
#include <cstring>

#include "hostfiles.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::string JoinParts(const std::string& folder, const std::vector<std::string>& parts, size_t count) {
  std::string path = folder;
  for (size_t i = 0; i < count; ++i) path = JoinHostPath(path, parts[i]);
  return path;
}

}  // namespace

bool OutputFolder::IsProtected(const HostFileId& id) const {
  for (const HostFileId& p : protected_) {
    if (p == id) return true;
  }
  return false;
}

bool OutputFolder::Open(const std::string& path, std::string& error) {
  path_ = path.empty() ? "." : path;
  if (!MakeHostFolders(path_) || HostKindOf(path_) != HostKind::Folder)
    return error = "cannot create the folder " + path_, false;
#ifndef _WIN32
  fd_ = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return error = path_ + ": " + std::strerror(errno), false;
#endif
  return true;
}

#ifdef _WIN32

OutputFolder::~OutputFolder() = default;

namespace {

// The identity of the entry itself, a link not followed.
bool EntryIdOf(const std::string& path, HostFileId& id) {
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  id = HostFileId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return ok;
}

}  // namespace

bool HostFileIdOf(const std::string& path, HostFileId& id) {
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  id = HostFileId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return ok;
}

OutputFolder::Outcome OutputFolder::Create(const std::vector<std::string>& parts, bool overwrite,
                                           std::FILE*& file, std::string& shown, std::string& error) {
  file = nullptr;
  shown = JoinParts(path_, parts, parts.size());
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    const std::string folder = JoinParts(path_, parts, i + 1);
    DWORD a = GetFileAttributesA(folder.c_str());
    if (a == INVALID_FILE_ATTRIBUTES && !CreateDirectoryA(folder.c_str(), nullptr))
      return error = "cannot create the folder " + folder, Outcome::Refused;
    a = GetFileAttributesA(folder.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY) || (a & FILE_ATTRIBUTE_REPARSE_POINT))
      return error = folder + " is a link or not a folder; not writing below it", Outcome::Refused;
  }
  const DWORD a = GetFileAttributesA(shown.c_str());
  if (a != INVALID_FILE_ATTRIBUTES) {
    if (!overwrite) return Outcome::Kept;
    HostFileId id;
    if (EntryIdOf(shown, id) && IsProtected(id))
      return error = shown + " is the package being read", Outcome::Refused;
    if (a & FILE_ATTRIBUTE_DIRECTORY) return error = shown + " is a folder", Outcome::Refused;
    SetFileAttributesA(shown.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(shown.c_str())) return error = "cannot replace " + shown, Outcome::Refused;
  }
  // CREATE_NEW fails on anything already there, a link included.
  HANDLE h =
      CreateFileA(shown.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return error = "cannot create " + shown, Outcome::Refused;
  const int fd = _open_osfhandle(intptr_t(h), _O_BINARY);
  if (fd < 0 || !(file = _fdopen(fd, "wb"))) {
    if (fd < 0)
      CloseHandle(h);
    else
      _close(fd);
    DeleteFileA(shown.c_str());
    return error = "cannot create " + shown, Outcome::Refused;
  }
  return Outcome::Created;
}

bool OutputFolder::Finish(std::FILE* file, uint16_t dosDate, uint16_t dosTime, uint16_t cabAttributes) {
  bool ok = std::fflush(file) == 0;
  FILE_BASIC_INFO info = {};
  FILETIME written;
  ok = ok && DosDateTimeToFileTime(dosDate, dosTime, &written);
  info.LastWriteTime.LowPart = written.dwLowDateTime;
  info.LastWriteTime.HighPart = LONG(written.dwHighDateTime);
  info.LastAccessTime = info.LastWriteTime;
  const DWORD attributes = cabAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  info.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  const HANDLE h = HANDLE(_get_osfhandle(_fileno(file)));
  ok = ok && SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info);
  return std::fclose(file) == 0 && ok;
}

void OutputFolder::Discard(const std::vector<std::string>& parts) {
  const std::string path = JoinParts(path_, parts, parts.size());
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
}

#else

OutputFolder::~OutputFolder() {
  if (fd_ >= 0) close(fd_);
}

bool HostFileIdOf(const std::string& path, HostFileId& id) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  id = HostFileId{uint64_t(st.st_dev), 0, uint64_t(st.st_ino)};
  return true;
}

// A descriptor of the folder that holds the last part, every folder on the
// way entered without following a link (and created when `create`); -1
// with `error` set.
int OutputFolder::EnterFolders(const std::vector<std::string>& parts, bool create, std::string& error) {
  int at = dup(fd_);
  for (size_t i = 0; at >= 0 && i + 1 < parts.size(); ++i) {
    if (create && mkdirat(at, parts[i].c_str(), 0777) != 0 && errno != EEXIST) {
      error = "cannot create the folder " + JoinParts(path_, parts, i + 1) + ": " + std::strerror(errno);
      close(at);
      return -1;
    }
    const int next = openat(at, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0)
      error = JoinParts(path_, parts, i + 1) + (errno == ELOOP || errno == ENOTDIR
                                                    ? " is a link or not a folder; not writing below it"
                                                    : std::string(": ") + std::strerror(errno));
    close(at);
    at = next;
  }
  return at;
}

OutputFolder::Outcome OutputFolder::Create(const std::vector<std::string>& parts, bool overwrite,
                                           std::FILE*& file, std::string& shown, std::string& error) {
  file = nullptr;
  shown = JoinParts(path_, parts, parts.size());
  const int folder = EnterFolders(parts, true, error);
  if (folder < 0) return Outcome::Refused;
  const char* name = parts.back().c_str();
  struct stat st;
  if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!overwrite) return close(folder), Outcome::Kept;
    if (IsProtected(HostFileId{uint64_t(st.st_dev), 0, uint64_t(st.st_ino)}))
      error = shown + " is the package being read";
    else if (S_ISDIR(st.st_mode))
      error = shown + " is a folder";
    else if (unlinkat(folder, name, 0) != 0)  // a link is removed, never followed
      error = "cannot replace " + shown + ": " + std::strerror(errno);
    if (!error.empty()) return close(folder), Outcome::Refused;
  }
  const int fd = openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) error = "cannot create " + shown + ": " + std::strerror(errno);
  close(folder);
  if (fd < 0) return Outcome::Refused;
  if (!(file = fdopen(fd, "wb"))) {
    close(fd);
    Discard(parts);
    return error = "cannot create " + shown, Outcome::Refused;
  }
  return Outcome::Created;
}

bool OutputFolder::Finish(std::FILE* file, uint16_t dosDate, uint16_t dosTime, uint16_t cabAttributes) {
  bool ok = std::fflush(file) == 0;
  const int fd = fileno(file);
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = time_t(UnixTimeOfDosStamp(dosDate, dosTime));
  times[0].tv_nsec = times[1].tv_nsec = 0;
  ok = ok && futimens(fd, times) == 0;
  struct stat st;
  if (ok && (cabAttributes & cab::kAttrReadOnly) && fstat(fd, &st) == 0)
    ok = fchmod(fd, st.st_mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  return std::fclose(file) == 0 && ok;
}

void OutputFolder::Discard(const std::vector<std::string>& parts) {
  std::string error;
  const int folder = EnterFolders(parts, false, error);
  if (folder < 0) return;
  unlinkat(folder, parts.back().c_str(), 0);
  close(folder);
}

#endif
