#include "fileops.h"

#include <windows.h>

#include "pathops.h"

#include <cstddef>
#include <cstring>
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

namespace {

// The DACL of a private folder: full control for the system account and for
// the user this process runs as, handed down to everything made inside. What
// lands in a private folder is loaded or run later, often elevated, so no one
// else may put anything there; the system account keeps access because
// services acting for the user, the Windows Installer above all, read from
// there. Laid out in place from the documented ACL and ACE layouts rather
// than through InitializeAcl and AddAccessAllowedAceEx: every import and call
// costs the stub bytes.
struct PrivateFolderAcl {
  ACL Header;
  ACE_HEADER SystemAce;
  ACCESS_MASK SystemMask;
  SID SystemSid;  // S-1-5-18
  ACE_HEADER UserAce;
  ACCESS_MASK UserMask;
  BYTE UserSid[SECURITY_MAX_SID_SIZE];
};

// The DACL for the user this process runs as; false when the user is unknown.
bool MakePrivateFolderAcl(PrivateFolderAcl& acl) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  union {
    TOKEN_USER User;
    BYTE Bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  } user;
  DWORD size = 0;
  const bool known = GetTokenInformation(token, TokenUser, &user, sizeof user, &size);
  CloseHandle(token);
  if (!known) return false;
  const SID* sid = static_cast<const SID*>(user.User.User.Sid);
  const WORD sidSize =
      static_cast<WORD>(offsetof(SID, SubAuthority) + sid->SubAuthorityCount * sizeof(DWORD));
  if (sidSize > sizeof acl.UserSid) return false;
  const BYTE kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  const WORD aclSize = static_cast<WORD>(offsetof(PrivateFolderAcl, UserSid) + sidSize);
  acl.Header = {ACL_REVISION, 0, aclSize, 2, 0};
  acl.SystemAce = {ACCESS_ALLOWED_ACE_TYPE, kInherited,
                   offsetof(PrivateFolderAcl, UserAce) - offsetof(PrivateFolderAcl, SystemAce)};
  acl.SystemMask = FILE_ALL_ACCESS;
  acl.SystemSid.Revision = SID_REVISION;
  acl.SystemSid.SubAuthorityCount = 1;
  acl.SystemSid.IdentifierAuthority = SECURITY_NT_AUTHORITY;
  acl.SystemSid.SubAuthority[0] = SECURITY_LOCAL_SYSTEM_RID;
  acl.UserAce = {ACCESS_ALLOWED_ACE_TYPE, kInherited,
                 static_cast<WORD>(aclSize - offsetof(PrivateFolderAcl, UserAce))};
  acl.UserMask = FILE_ALL_ACCESS;
  memcpy(acl.UserSid, sid, sidSize);
  return true;
}

}  // namespace

std::string CreateUniqueFolder(const std::string& base, const std::string& prefix) {
  // A base folder that cannot be written fails every candidate alike, so the
  // search stops after this many failed creations instead of trying 2^31 names.
  const int kMaxFailures = 100;
  const int64_t kMaxNumber = 1000000;
  PrivateFolderAcl acl;
  if (!MakePrivateFolderAcl(acl)) return std::string();
  // The absolute form of a security descriptor, its DACL protected from what
  // the parent folder hands down.
  SECURITY_DESCRIPTOR descriptor = {};
  descriptor.Revision = SECURITY_DESCRIPTOR_REVISION;
  descriptor.Control = SE_DACL_PRESENT | SE_DACL_PROTECTED;
  descriptor.Dacl = &acl.Header;
  SECURITY_ATTRIBUTES security = {sizeof security, &descriptor, FALSE};
  CreateFolderPath(base);
  const std::string stem = AddTrailingBackslash(base) + prefix;
  int failures = 0;
  for (int64_t n = 1; n <= kMaxNumber && failures < kMaxFailures; ++n) {
    const std::string candidate = stem + Int64ToText(n);
    // Only a folder that this call made is private: whatever stands under the
    // name already (a folder, a file, a link) may belong to someone else.
    if (CreateDirectoryA(candidate.c_str(), &security)) return AddTrailingBackslash(candidate);
    if (!DirectoryExists(candidate)) ++failures;
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
    // A link (junction, symbolic link) is reported like a file and never
    // entered: what it points at lies outside the folder being walked.
    const DWORD kind = entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    if (kind == FILE_ATTRIBUTE_DIRECTORY && recurse) {
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
