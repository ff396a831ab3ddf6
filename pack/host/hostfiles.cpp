#include "hostfiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "package.h"
#include "uObfuscate.h"

#include <csignal>
#include <random>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <sys/utime.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#endif

#ifdef _WIN32
namespace {
const char kSeparator = '\\';
}

HostKind HostKindOf(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return HostKind::Missing;
  if (a & FILE_ATTRIBUTE_DIRECTORY) return HostKind::Folder;
  if (a & FILE_ATTRIBUTE_DEVICE) return HostKind::Other;
  return HostKind::File;
}

bool ListHostFolder(const std::string& path, std::vector<std::string>& names) {
  names.clear();
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((path + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(h, &found));
  const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(h);
  std::sort(names.begin(), names.end());
  return complete;
}

namespace {

std::string Recode(const std::string& text, UINT from, UINT to) {
  if (text.empty()) return text;
  const int wide = MultiByteToWideChar(from, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring w(size_t(wide), L'\0');
  MultiByteToWideChar(from, 0, text.data(), int(text.size()), &w[0], wide);
  const int bytes = WideCharToMultiByte(to, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(size_t(bytes), '\0');
  WideCharToMultiByte(to, 0, w.data(), wide, &out[0], bytes, nullptr, nullptr);
  return out;
}

}  // namespace

std::string Utf8OfHostName(const std::string& hostName) { return Recode(hostName, CP_ACP, CP_UTF8); }

std::string HostNameOfUtf8(const std::string& utf8) { return Recode(utf8, CP_UTF8, CP_ACP); }

uint16_t HostCabAttributes(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return cab::kAttrArchive;
  return uint16_t((a & cab::kAttrAllowed) | cab::kAttrArchive);
}

std::string OwnExecutablePath() {
  char buffer[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

bool IsAbsoluteHostPath(const std::string& path) {
  return (!path.empty() && (path[0] == '\\' || path[0] == '/')) || (path.size() >= 2 && path[1] == ':');
}

bool MakeHostFolders(const std::string& path) {
  if (HostKindOf(path) == HostKind::Folder) return true;
  const std::string parent = HostFolderOf(path);
  if (parent != path && parent != "." && !MakeHostFolders(parent)) return false;
  return CreateDirectoryA(path.c_str(), nullptr) || HostKindOf(path) == HostKind::Folder;
}

void SetHostFileAttributes(const std::string& path, uint16_t cabAttributes) {
  SetFileAttributesA(path.c_str(), cabAttributes & cab::kAttrAllowed ? cabAttributes & cab::kAttrAllowed
                                                                     : FILE_ATTRIBUTE_NORMAL);
}

bool SameHostFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info[2];
  const std::string* paths[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    HANDLE h = CreateFileA(paths[i]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(h, &info[i]);
    CloseHandle(h);
    if (!ok) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

std::string HostRealPath(const std::string& path) {
  char buffer[MAX_PATH * 4];
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  if (n == 0 || n >= sizeof buffer || GetFileAttributesA(buffer) == INVALID_FILE_ATTRIBUTES) return "";
  return std::string(buffer, n);
}

bool ReplaceHostFile(const std::string& from, const std::string& to, std::string& error) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  error =
      to + ": cannot put the finished file in place (Windows error " + std::to_string(GetLastError()) + ")";
  return false;
}

#else
namespace {
const char kSeparator = '/';
}

HostKind HostKindOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return HostKind::Missing;
  if (S_ISDIR(st.st_mode)) return HostKind::Folder;
  return S_ISREG(st.st_mode) ? HostKind::File : HostKind::Other;
}

bool ListHostFolder(const std::string& path, std::vector<std::string>& names) {
  names.clear();
  DIR* dir = opendir(path.c_str());
  if (!dir) return false;
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  const bool complete = errno == 0;
  closedir(dir);
  std::sort(names.begin(), names.end());
  return complete;
}

std::string Utf8OfHostName(const std::string& hostName) { return hostName; }

std::string HostNameOfUtf8(const std::string& utf8) { return utf8; }

uint16_t HostCabAttributes(const std::string& path) {
  uint16_t attributes = cab::kAttrArchive;
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)))
    attributes |= cab::kAttrReadOnly;
  if (HostNameOf(path).compare(0, 1, ".") == 0) attributes |= cab::kAttrHidden;
  return attributes;
}

std::string OwnExecutablePath() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  return n > 0 && size_t(n) < sizeof buffer ? std::string(buffer, size_t(n)) : std::string();
}

bool IsAbsoluteHostPath(const std::string& path) { return !path.empty() && path[0] == '/'; }

bool MakeHostFolders(const std::string& path) {
  if (HostKindOf(path) == HostKind::Folder) return true;
  const std::string parent = HostFolderOf(path);
  if (parent != path && parent != "." && !MakeHostFolders(parent)) return false;
  return mkdir(path.c_str(), 0777) == 0 || HostKindOf(path) == HostKind::Folder;
}

void SetHostFileAttributes(const std::string& path, uint16_t cabAttributes) {
  struct stat st;
  if (!(cabAttributes & cab::kAttrReadOnly) || stat(path.c_str(), &st) != 0) return;
  chmod(path.c_str(), st.st_mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH));
}

bool SameHostFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::string HostRealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return "";
  const std::string real = resolved;
  std::free(resolved);
  return real;
}

bool ReplaceHostFile(const std::string& from, const std::string& to, std::string& error) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  error = to + ": cannot put the finished file in place (" + std::strerror(errno) + ")";
  return false;
}
#endif

// The last-write time as a DOS stamp in UTC.
#ifdef _WIN32
bool DosStampOfFile(const std::string& path, cab::DosStamp& stamp) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  // 100-ns ticks since 1601, in UTC.
  const uint64_t ticks =
      uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
  stamp = cab::DosStampFromUnixTime(int64_t(ticks / 10000000) - 11644473600LL);
  return true;
}
#else
bool DosStampOfFile(const std::string& path, cab::DosStamp& stamp) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  stamp = cab::DosStampFromUnixTime(int64_t(st.st_mtime));
  return true;
}
#endif

bool IsBelowHostFolder(const std::string& realPath, const std::string& realFolder) {
  if (realFolder.empty() || realPath.compare(0, realFolder.size(), realFolder) != 0) return false;
  const char last = realFolder.back();
  return realPath.size() == realFolder.size() || last == '/' || last == '\\' ||
         realPath[realFolder.size()] == kSeparator;
}

std::string ToHostSeparators(const std::string& path) {
  std::string host = path;
  for (char& c : host) {
    if (c == '\\' || c == '/') c = kSeparator;
  }
  return host;
}

std::string JoinHostPath(const std::string& folder, const std::string& relative) {
  const std::string rel = ToHostSeparators(relative);
  if (IsAbsoluteHostPath(rel) || folder.empty() || folder == ".") return rel;
  if (folder.back() == '/' || folder.back() == '\\') return folder + rel;
  return folder + kSeparator + rel;
}

std::string HostFolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string HostNameOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool CopyHostFile(const std::string& from, const std::string& to, bool scramble, const std::string& password,
                  std::string& error) {
  std::FILE* in = std::fopen(from.c_str(), "rb");
  if (!in) {
    error = from + ": cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  std::FILE* out = CreateFreshHostFile(to, false, error);
  if (!out) {
    std::fclose(in);
    return false;
  }
  const std::string key = InvertKey(MakeScrambleKey(password));
  std::vector<uint8_t> chunk(1 << 20);
  uint64_t position = 0;
  bool ok = true;
  size_t n;
  while (ok && (n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0) {
    if (scramble) DescrambleAt(chunk.data(), key, n, uint32_t(position));
    ok = std::fwrite(chunk.data(), 1, n, out) == n;
    position += n;
  }
  if (std::ferror(in)) {
    ok = false;
    error = from + ": cannot read";
  } else if (!ok) {
    error = to + ": cannot write";
  }
  std::fclose(in);
  if (std::fclose(out) != 0 && ok) {
    ok = false;
    error = to + ": cannot write";
  }
  if (!ok) std::remove(to.c_str());
  return ok;
}

int64_t UnixTimeOfDosStamp(uint16_t dosDate, uint16_t dosTime) {
  // Days from 1970-01-01 to the civil date (proleptic Gregorian).
  int64_t y = 1980 + (dosDate >> 9);
  const int64_t m = (dosDate >> 5) & 15, d = dosDate & 31;
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = era * 146097 + doe - 719468;
  return days * 86400 + (dosTime >> 11) * 3600 + ((dosTime >> 5) & 63) * 60 + (dosTime & 31) * 2;
}

bool SetHostFileStamp(const std::string& path, uint16_t dosDate, uint16_t dosTime) {
  struct utimbuf times;
  times.actime = time_t(UnixTimeOfDosStamp(dosDate, dosTime));
  times.modtime = times.actime;
  return utime(path.c_str(), &times) == 0;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  bytes.clear();
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  const std::string temp = PartialNameFor(path);
  RegisterPartialFile(temp);
  std::FILE* f = CreateFreshHostFile(temp, false, error);
  if (!f) return ForgetPartialFile(temp), false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
    error = path + ": cannot write (" + std::strerror(errno) + ")";
    std::remove(temp.c_str());
    ForgetPartialFile(temp);
    return false;
  }
  ForgetPartialFile(temp);
  return true;
}

std::string PartialNameFor(const std::string& final) {
  static const std::string token = [] {
    std::random_device random;
    char text[20];
    std::snprintf(text, sizeof text, "%08x%08x", unsigned(random()), unsigned(random()));
    return std::string(text);
  }();
  return final + "." + token + ".partial";
}

#ifdef _WIN32

std::FILE* CreateFreshHostFile(const std::string& path, bool readBack, std::string& error) {
  const DWORD a = GetFileAttributesA(path.c_str());
  if (a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
  }
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE | (readBack ? GENERIC_READ : 0), 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = path + ": cannot create (Windows error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  const int fd = _open_osfhandle(intptr_t(h), _O_BINARY);
  std::FILE* f = fd < 0 ? nullptr : _fdopen(fd, readBack ? "w+b" : "wb");
  if (!f) {
    if (fd < 0)
      CloseHandle(h);
    else
      _close(fd);
    DeleteFileA(path.c_str());
    error = path + ": cannot create";
  }
  return f;
}

#else

std::FILE* CreateFreshHostFile(const std::string& path, bool readBack, std::string& error) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) unlink(path.c_str());
  const int fd =
      open(path.c_str(), (readBack ? O_RDWR : O_WRONLY) | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  std::FILE* f = fd < 0 ? nullptr : fdopen(fd, readBack ? "w+b" : "wb");
  if (!f) {
    error = path + ": cannot create (" + std::strerror(errno) + ")";
    if (fd >= 0) close(fd), unlink(path.c_str());
  }
  return f;
}

#endif

namespace {

// Changed only while the signals are held back (on Windows, where they
// cannot be, a handler may race a change; it is best effort there).
std::vector<std::string>* g_partials = nullptr;
const int kCleanupSignals[] = {
    SIGINT,
    SIGTERM,
#ifndef _WIN32
    SIGHUP,
#endif
};

void RemovePartials(int signal) {
  if (g_partials) {
    for (const std::string& p : *g_partials) std::remove(p.c_str());
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

class SignalsHeld {
 public:
  SignalsHeld() {
#ifndef _WIN32
    sigset_t held;
    sigemptyset(&held);
    for (int s : kCleanupSignals) sigaddset(&held, s);
    sigprocmask(SIG_BLOCK, &held, &before_);
#endif
  }
  ~SignalsHeld() {
#ifndef _WIN32
    sigprocmask(SIG_SETMASK, &before_, nullptr);
#endif
  }

 private:
#ifndef _WIN32
  sigset_t before_;
#endif
};

}  // namespace

void RegisterPartialFile(const std::string& path) {
  SignalsHeld held;
  if (!g_partials) {
    g_partials = new std::vector<std::string>;
    for (int s : kCleanupSignals) {
      // A signal the caller chose to ignore stays ignored.
      if (std::signal(s, RemovePartials) == SIG_IGN) std::signal(s, SIG_IGN);
    }
  }
  g_partials->push_back(path);
}

void ForgetPartialFile(const std::string& path) {
  SignalsHeld held;
  if (!g_partials) return;
  const auto found = std::find(g_partials->begin(), g_partials->end(), path);
  if (found != g_partials->end()) g_partials->erase(found);
}

#ifdef _WIN32
std::FILE* OpenRegularHostFile(const std::string& path) {
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  const bool regular = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
                       !(info.dwFileAttributes &
                         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
  const int fd = regular ? _open_osfhandle(intptr_t(h), _O_RDONLY | _O_BINARY) : -1;
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, "rb");
  if (!f) _close(fd);
  return f;
}
#else
std::FILE* OpenRegularHostFile(const std::string& path) {
  // Non-blocking, so that opening a FIFO cannot wait for a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  std::FILE* f = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? fdopen(fd, "rb") : nullptr;
  if (!f) close(fd);
  return f;
}
#endif
