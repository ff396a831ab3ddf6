// The private folders under TEMP (made only by this process, readable only by
// its user), the clean-up walk over links, and the library search limit.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "exitsetup.h"
#include "fileops.h"
#include "scratchfolder.h"
#include "librarysearch.h"
#include "pathops.h"

namespace {

bool IsLink(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(StripTrailingBackslash(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool RunningOnWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

// A junction, which Windows lets every user make. The link name must be an
// empty folder.
bool MakeJunction(const std::string& link, const std::string& target) {
  const HANDLE folder = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  const std::wstring substitute = L"\\??\\" + std::wstring(target.begin(), target.end());
  const std::wstring print(target.begin(), target.end());
  const WORD substituteBytes = static_cast<WORD>(substitute.size() * 2);
  const WORD printBytes = static_cast<WORD>(print.size() * 2);
  // Tag, data length, reserved; then the mount point's offsets and lengths,
  // followed by both names, each with its terminator.
  std::vector<BYTE> data(16 + substituteBytes + 2 + printBytes + 2);
  const WORD dataBytes = static_cast<WORD>(data.size() - 8);
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  const WORD fields[] = {dataBytes, 0, 0, substituteBytes, static_cast<WORD>(substituteBytes + 2),
                         printBytes};
  memcpy(&data[0], &tag, 4);
  memcpy(&data[4], fields, sizeof fields);
  memcpy(&data[16], substitute.c_str(), substituteBytes);
  memcpy(&data[16 + substituteBytes + 2], print.c_str(), printBytes);
  DWORD returned = 0;
  const bool made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, data.data(),
                                    static_cast<DWORD>(data.size()), nullptr, 0, &returned, nullptr);
  CloseHandle(folder);
  return made;
}

// Starts a program of the Unix side (Wine starts those too) with the Unix
// names of `paths` after `arguments`. Wine's handle to such a process does
// not wait for it: callers watch for its effect.
bool RunUnixProgram(const std::string& program, const std::string& arguments,
                    const std::vector<std::string>& paths) {
  using UnixName = char*(CDECL*)(const WCHAR*);
  const auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!unixName) return false;
  std::string command = program + " " + arguments;
  for (const std::string& path : paths) {
    const std::wstring wide(path.begin(), path.end());
    char* name = unixName(wide.c_str());
    if (!name) return false;
    command += std::string(" \"") + name + "\"";
    HeapFree(GetProcessHeap(), 0, name);
  }
  const std::string image = "Z:" + program;
  STARTUPINFOA startup = {sizeof startup};
  PROCESS_INFORMATION process;
  if (!CreateProcessA(image.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// A link at `link` (which must not exist) to the folder `target`, made the
// way the system allows; false when no way worked.
bool MakeFolderLink(const std::string& link, const std::string& target) {
  if (CreateDirectoryA(link.c_str(), nullptr)) {
    if (MakeJunction(link, target) && IsLink(link)) return true;
    RemoveDirectoryA(link.c_str());
  }
  // Wine makes no junctions (FSCTL_SET_REPARSE_POINT is not supported) and
  // its CreateSymbolicLink makes nothing, but it shows a Unix symbolic link
  // to a folder as a reparse point.
  if (!RunningOnWine() || !RunUnixProgram("/bin/ln", "-s", {target, link})) return false;
  for (int waited = 0; waited < 600 && !IsLink(link); ++waited) Sleep(100);
  return IsLink(link);
}

const int kRacedNames = 60;

using PrivateFolders = ScratchFolder;

struct AceFacts {
  std::string Sid;
  DWORD Mode;
  DWORD Permissions;
  DWORD Inheritance;
  bool operator<(const AceFacts& o) const { return Sid < o.Sid; }
};

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "?";
  const std::string result = text;
  LocalFree(text);
  return result;
}

std::string UserSidText() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
  BYTE buffer[256];
  DWORD size = 0;
  const bool known = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
  CloseHandle(token);
  return known ? SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) : "";
}

// The DACL stored for `path` as the system reads it back, and whether it is
// protected from what the parent hands down.
bool ReadDacl(const std::string& path, std::vector<AceFacts>& aces, bool& protectedDacl) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  protectedDacl = (control & SE_DACL_PROTECTED) != 0;
  aces.clear();
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) break;
    const auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    aces.push_back({SidText(const_cast<DWORD*>(&allowed->SidStart)), header->AceType, allowed->Mask,
                    static_cast<DWORD>(header->AceFlags & ~INHERITED_ACE)});
  }
  LocalFree(descriptor);
  std::sort(aces.begin(), aces.end());
  return true;
}

}  // namespace

// Whatever stands under the first name already is left alone and the next
// name is made: the folder returned is always one that this call created.
TEST_F(PrivateFolders, ExistingNamesAreNeverTaken) {
  enum Occupant { kEmptyFolder, kFolderWithFile, kFile };
  for (const Occupant occupant : {kEmptyFolder, kFolderWithFile, kFile}) {
    SCOPED_TRACE(occupant);
    const std::string base = root_ + "base" + std::to_string(occupant);
    ASSERT_TRUE(CreateDirectoryA(base.c_str(), nullptr));
    for (const char* prefix : {"VELTRA", "~SSET"}) {
      const std::string first = base + "\\" + prefix + "1";
      const std::string planted = occupant == kFile ? first : first + "\\planted.exe";
      if (occupant != kFile) ASSERT_TRUE(CreateDirectoryA(first.c_str(), nullptr));
      if (occupant != kEmptyFolder) WriteFile(planted, "planted");
      const DWORD before = GetFileAttributesA(first.c_str());
      EXPECT_EQ(base + "\\" + prefix + "2\\", CreateUniqueFolder(base, prefix));
      EXPECT_EQ(before, GetFileAttributesA(first.c_str()));
      EXPECT_EQ(occupant != kEmptyFolder, FileExists(planted));
    }
  }
}

// Another process making the same names at the same time: each name is made
// by one of the two, never handed to both.
TEST_F(PrivateFolders, NamesMadeMeanwhileByOthersAreNeverTaken) {
  struct Other {
    std::string Root;
    std::vector<bool> Made = std::vector<bool>(kRacedNames + 1, false);
    static DWORD WINAPI Run(void* self) {
      Other& other = *static_cast<Other*>(self);
      for (int n = 1; n <= kRacedNames; ++n) {
        other.Made[n] = CreateDirectoryA((other.Root + "VELTRA" + std::to_string(n)).c_str(), nullptr) != 0;
      }
      return 0;
    }
  } other;
  other.Root = root_;
  const HANDLE thread = CreateThread(nullptr, 0, Other::Run, &other, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  std::vector<std::string> ours;
  for (int i = 0; i < kRacedNames / 3; ++i) ours.push_back(CreateUniqueFolder(root_, "VELTRA"));
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  std::set<std::string> distinct;
  for (const std::string& folder : ours) {
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(distinct.insert(folder).second) << folder;
    const std::string number = folder.substr(root_.size() + 6, folder.size() - root_.size() - 7);
    const int n = std::stoi(number);
    if (n <= kRacedNames) EXPECT_FALSE(other.Made[n]) << folder << " was made by the other";
  }
}

// The user and the system account have full control, handed down to what is
// made inside; nothing else is named and nothing comes from the parent.
// Wine keeps no security descriptor for a file: it turns the DACL into the
// Unix mode (here no access for others) and reads the mode back as a DACL of
// the owner, the system account and, when others have access, everyone. So
// there the entries show what was stored, while the protection flag and what
// a file inside inherits are not kept.
TEST_F(PrivateFolders, OnlyTheUserAndTheSystemHaveAccess) {
  const std::string user = UserSidText();
  ASSERT_NE("", user);
  const DWORD kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  std::vector<AceFacts> expected = {{user, ACCESS_ALLOWED_ACE_TYPE, FILE_ALL_ACCESS, kInherited},
                                    {"S-1-5-18", ACCESS_ALLOWED_ACE_TYPE, FILE_ALL_ACCESS, kInherited}};
  std::sort(expected.begin(), expected.end());
  for (const char* prefix : {"VELTRA", "~SSET"}) {
    SCOPED_TRACE(prefix);
    const std::string folder = CreateUniqueFolder(root_, prefix);
    ASSERT_NE("", folder);
    std::vector<AceFacts> aces;
    bool protectedDacl = false;
    ASSERT_TRUE(ReadDacl(StripTrailingBackslash(folder), aces, protectedDacl));
    ASSERT_EQ(expected.size(), aces.size());
    for (size_t i = 0; i < aces.size(); ++i) {
      EXPECT_EQ(expected[i].Sid, aces[i].Sid);
      EXPECT_EQ(expected[i].Mode, aces[i].Mode) << aces[i].Sid;
      EXPECT_EQ(expected[i].Permissions, aces[i].Permissions) << aces[i].Sid;
      EXPECT_EQ(expected[i].Inheritance, aces[i].Inheritance) << aces[i].Sid;
    }
    if (RunningOnWine()) continue;
    EXPECT_TRUE(protectedDacl);
    // A file extracted into the folder gets the same two entries.
    WriteFile(folder + "payload.txt");
    ASSERT_TRUE(ReadDacl(folder + "payload.txt", aces, protectedDacl));
    ASSERT_EQ(expected.size(), aces.size());
    for (size_t i = 0; i < aces.size(); ++i) EXPECT_EQ(expected[i].Sid, aces[i].Sid);
  }
}

// The clean-up removes the links it meets but never what they point at, a
// link inside the tree and a tree that has itself become a link alike.
TEST_F(PrivateFolders, CleanUpNeverFollowsLinks) {
  const std::string outside = root_ + "outside\\";
  ASSERT_TRUE(CreateFolderPath(outside + "deeper\\"));
  WriteFile(outside + "keep.txt");
  WriteFile(outside + "deeper\\keep too.txt");
  const std::string work = root_ + "VELTRA1\\";
  ASSERT_TRUE(CreateFolderPath(work + "sub\\"));
  WriteFile(work + "own.txt");
  WriteFile(work + "sub\\own too.txt");
  if (!MakeFolderLink(work + "sub\\link", StripTrailingBackslash(outside))) {
    GTEST_SKIP() << "this system made no link to a folder";
  }
  ASSERT_TRUE(FileExists(work + "sub\\link\\keep.txt"));
  const std::string linkedTree = root_ + "VELTRA2";
  ASSERT_TRUE(MakeFolderLink(linkedTree, StripTrailingBackslash(outside)));

  RemoveFolderTree(work);
  RemoveFolderTree(linkedTree + "\\");

  EXPECT_TRUE(FileExists(outside + "keep.txt"));
  EXPECT_TRUE(FileExists(outside + "deeper\\keep too.txt"));
  EXPECT_FALSE(FileExists(work + "own.txt"));
  EXPECT_FALSE(FileExists(work + "sub\\own too.txt"));
  // Wine removes no link to a folder, neither with RemoveDirectoryA nor with
  // DeleteFileA, so there the links and the folders holding them stay.
  if (RunningOnWine()) {
    RunUnixProgram("/bin/rm", "", {work + "sub\\link", linkedTree});
    for (int waited = 0; waited < 600 && IsLink(linkedTree); ++waited) Sleep(100);
  } else {
    EXPECT_FALSE(DirectoryExists(work));
    EXPECT_FALSE(DirectoryExists(linkedTree));
  }
}

// Where the system can limit the search, a library beside this program is
// no longer found by name, while a load by full path (the package's own
// cabinet library) and a system library by name still work. The limit holds
// for the rest of this test program, which loads nothing else by name.
TEST(LibrarySearch, ByNameOnlyFromTheSystemFolder) {
  const bool available =
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories") != nullptr;
  EXPECT_EQ(available, LimitLibrarySearchToSystem());
  if (!available) GTEST_SKIP() << "this system has no SetDefaultDllDirectories";
  char own[MAX_PATH * 2];
  const std::string folder = DirectoryPart(std::string(own, GetModuleFileNameA(nullptr, own, sizeof own)));
  const std::string planted = AddTrailingBackslash(folder) + "veltra-test-planted.dll";
  const std::string marker = AddTrailingBackslash(folder) + "planted-loaded.txt";
  ASSERT_TRUE(FileExists(planted));
  DeleteFileA(marker.c_str());

  EXPECT_EQ(nullptr, LoadLibraryA("veltra-test-planted.dll"));
  EXPECT_FALSE(FileExists(marker));
  const HMODULE byPath = LoadLibraryA(planted.c_str());
  EXPECT_NE(nullptr, byPath);
  EXPECT_TRUE(FileExists(marker));
  const HMODULE system = LoadLibraryA("lz32.dll");
  EXPECT_NE(nullptr, system);
  if (byPath) FreeLibrary(byPath);
  if (system) FreeLibrary(system);
  DeleteFileA(marker.c_str());
}
