// File-system helpers and the folder removal of the exit procedure, run under
// Wine on a scratch folder below the temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "exitsetup.h"
#include "fileops.h"
#include "scratchfolder.h"
#include "setupparams.h"

namespace {

std::vector<std::string> Walked;
bool RecordPath(const std::string& path) {
  Walked.push_back(path);
  return true;
}
bool StopAtFirst(const std::string& path) {
  Walked.push_back(path);
  return false;
}

}  // namespace

TEST_F(ScratchFolder, UniqueFolderTakesTheFirstFreeNumber) {
  ASSERT_TRUE(CreateDirectoryA((root_ + "VELTRA1").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((root_ + "VELTRA2").c_str(), nullptr));
  EXPECT_EQ(root_ + "VELTRA3\\", CreateUniqueFolder(root_, "VELTRA"));
  EXPECT_TRUE(DirectoryExists(root_ + "VELTRA3"));
  EXPECT_EQ(root_ + "VELTRA4\\", CreateUniqueFolder(root_.substr(0, root_.size() - 1), "VELTRA"));
}

TEST_F(ScratchFolder, UniqueFolderGivesUpWhenNothingCanBeMade) {
  // A file where the base folder should be: every candidate fails alike.
  WriteFile(root_ + "blocked");
  EXPECT_EQ("", CreateUniqueFolder(root_ + "blocked", "VELTRA"));
}

TEST_F(ScratchFolder, CreateFolderPathMakesParentsAndStopsAtFiles) {
  EXPECT_TRUE(CreateFolderPath(root_ + "a\\b\\c\\"));
  EXPECT_TRUE(DirectoryExists(root_ + "a\\b\\c"));
  WriteFile(root_ + "file");
  EXPECT_FALSE(CreateFolderPath(root_ + "file\\sub\\deeper"));
  EXPECT_TRUE(CreateFolderPath(""));
  EXPECT_FALSE(CreateFolderPath("Q:\\no-such-drive\\folder"));
}

TEST_F(ScratchFolder, CreateFolderPathEndsOnNamesWithAColon) {
  // Names from a damaged cabinet can hold colons; each call must come back,
  // true exactly when the folder is there afterwards. Windows refuses such
  // names; other systems may make them.
  for (const char* name : {"a:", "a:\\", "x\\a:b\\c", "b:c:", "c\\:"}) {
    const bool made = CreateFolderPath(root_ + name);
    EXPECT_EQ(DirectoryExists(root_ + name), made) << name;
  }
  EXPECT_TRUE(CreateFolderPath(root_ + "fine\\"));
}

// Sets the last-write time of `path` to the given year.
void DateFile(const std::string& path, WORD year) {
  SYSTEMTIME st = {year, 6, 0, 15, 12, 0, 0, 0};
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  const HANDLE f = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_TRUE(SetFileTime(f, nullptr, nullptr, &ft));
  CloseHandle(f);
}

std::string ReadWhole(const std::string& path) {
  std::vector<uint8_t> bytes;
  return ReadFileBytes(path, bytes) ? std::string(bytes.begin(), bytes.end()) : "<unreadable>";
}

TEST_F(ScratchFolder, FileExistsForFilesOfAnyTimeAndNotForFolders) {
  WriteFile(root_ + "new.txt");
  EXPECT_TRUE(FileExists(root_ + "new.txt"));
  EXPECT_NE(-1, FileDosTime(root_ + "new.txt"));
  EXPECT_FALSE(FileExists(root_ + "absent.txt"));
  EXPECT_FALSE(FileExists(root_ + "no-folder\\absent.txt"));
  // A name is a name: a stored name with wildcards must not find another file.
  EXPECT_FALSE(FileExists(root_ + "n?w.*"));
  CreateDirectoryA((root_ + "folder").c_str(), nullptr);
  EXPECT_FALSE(FileExists(root_ + "folder"));
  EXPECT_TRUE(DirectoryExists(root_ + "folder"));
  EXPECT_FALSE(DirectoryExists(root_ + "new.txt"));

  // Times outside the DOS range (1980 to 2107): there all the same. (Windows
  // has no DOS time for 2110 either; Wine makes one up.)
  for (const WORD year : {1975, 1979, 2110}) {
    const std::string path = root_ + "dated-" + std::to_string(year) + ".txt";
    WriteFile(path);
    DateFile(path, year);
    if (year < 1980) EXPECT_EQ(-1, FileDosTime(path)) << year;
    EXPECT_TRUE(FileExists(path)) << year;
  }
}

TEST_F(ScratchFolder, MoveFileOverReplacesWholeOrLeavesBoth) {
  const std::string from = root_ + "partial";
  const std::string to = root_ + "final.txt";
  const std::string absent = root_ + "absent";
  struct Case {
    const char* name;
    DWORD existing;  // attributes of the file at `to`; 0: none there
  };
  for (const Case c :
       {Case{"new", 0}, Case{"plain", FILE_ATTRIBUTE_NORMAL}, Case{"read-only", FILE_ATTRIBUTE_READONLY},
        Case{"hidden system", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}}) {
    SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(to.c_str());
    if (c.existing) {
      WriteFile(to, "old");
      SetFileAttributesA(to.c_str(), c.existing);
    }
    WriteFile(from, "new");
    EXPECT_TRUE(FileReplaceable(to)) << c.name;
    EXPECT_TRUE(MoveFileOver(from, to)) << c.name;
    EXPECT_EQ("new", ReadWhole(to)) << c.name;
    EXPECT_FALSE(FileExists(from)) << c.name;
    // Nothing to move: the file there and its attributes stay.
    SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(MoveFileOver(absent, to)) << c.name;
    EXPECT_EQ("new", ReadWhole(to)) << c.name;
    EXPECT_TRUE(GetFileAttributesA(to.c_str()) & FILE_ATTRIBUTE_READONLY) << c.name;
  }
}

TEST_F(ScratchFolder, AFileHeldWithoutSharingIsNotReplaceable) {
  const std::string to = root_ + "held.txt";
  WriteFile(to, "old");
  const HANDLE held = CreateFileA(to.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_FALSE(FileReplaceable(to));
  WriteFile(root_ + "partial", "new");
  EXPECT_FALSE(MoveFileOver(root_ + "partial", to));
  CloseHandle(held);
  EXPECT_EQ("old", ReadWhole(to));
  EXPECT_TRUE(FileReplaceable(to));
  EXPECT_TRUE(FileReplaceable(root_ + "absent.txt"));
}

TEST_F(ScratchFolder, WalkReportsContentsBeforeTheirFolderAndTheTopLast) {
  WriteFile(root_ + "top.txt");
  CreateDirectoryA((root_ + "sub").c_str(), nullptr);
  WriteFile(root_ + "sub\\inner.txt");
  Walked.clear();
  EXPECT_TRUE(WalkFolder(root_, "*.*", true, RecordPath));
  ASSERT_EQ(4u, Walked.size());
  const auto at = [](const std::string& p) {
    for (size_t i = 0; i < Walked.size(); ++i)
      if (Walked[i] == p) return static_cast<int>(i);
    return -1;
  };
  EXPECT_GE(at(root_ + "top.txt"), 0);
  EXPECT_EQ(at(root_ + "sub\\inner.txt") + 1, at(root_ + "sub\\"));
  EXPECT_EQ(root_, Walked.back());

  Walked.clear();
  EXPECT_FALSE(WalkFolder(root_ + "absent", "*.*", true, RecordPath));
  EXPECT_TRUE(Walked.empty());

  Walked.clear();
  EXPECT_FALSE(WalkFolder(root_, "*.*", true, StopAtFirst));
  EXPECT_EQ(1u, Walked.size());

  // Another mask: matching entries only, and no report of the folder itself.
  Walked.clear();
  EXPECT_TRUE(WalkFolder(root_, "*.txt", false, RecordPath));
  EXPECT_EQ(std::vector<std::string>{root_ + "top.txt"}, Walked);
}

TEST_F(ScratchFolder, RemoveWorkDirDeletesReadOnlyHiddenFilesAndNestedFolders) {
  const std::string work = root_ + "VELTRA1\\";
  CreateFolderPath(work + "a\\b\\");
  WriteFile(work + "~DLL2.$$$");
  WriteFile(work + "a\\readonly.txt");
  WriteFile(work + "a\\b\\hidden.txt");
  SetFileAttributesA((work + "a\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA((work + "a\\b\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  SetupParams.WorkDir = work;
  RemoveWorkDir();
  EXPECT_FALSE(DirectoryExists(work));
  EXPECT_TRUE(DirectoryExists(root_));

  SetupParams.WorkDir.clear();
  RemoveWorkDir();  // no folder: nothing touched
  EXPECT_TRUE(DirectoryExists(root_));
}

TEST(DiskFree, AnswersForDrivesAndZeroForNothing) {
  EXPECT_EQ(0, DiskFreeBytes(""));
  EXPECT_GT(DiskFreeBytes("C:\\windows\\"), 0);
  EXPECT_EQ(0, DiskFreeBytes("Q:\\nowhere\\"));
  // A folder still to be made answers for the nearest one above it.
  EXPECT_GT(DiskFreeBytes("C:\\windows\\not\\yet\\made\\"), 0);
}

namespace {
// A system call whose text is 5000 characters long, for any buffer size.
uint32_t ReadLongText(char* buffer, uint32_t size) {
  const std::string text(5000, 'x');
  if (size <= text.size()) return static_cast<uint32_t>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<uint32_t>(text.size());
}
uint32_t ReadTempPathInto(char* buffer, uint32_t size) { return GetTempPathA(size, buffer); }
uint32_t FailToRead(char*, uint32_t) { return 0; }
}  // namespace

// A text longer than the first buffer is read again whole, never taken from
// the unwritten buffer.
TEST(ReadSizedText, ReadsTextsLongerThanTheFirstBuffer) {
  char temp[4096];
  const std::string tempPath(temp, GetTempPathA(sizeof temp, temp));
  ASSERT_FALSE(tempPath.empty());
  const struct {
    SizedTextReader Read;
    uint32_t FirstSize;
    std::string Expected;
  } cases[] = {
      {ReadLongText, 261, std::string(5000, 'x')},
      {ReadLongText, 5000, std::string(5000, 'x')},
      {ReadLongText, 5001, std::string(5000, 'x')},
      {ReadTempPathInto, 1, tempPath},
      {ReadTempPathInto, 4, tempPath},
      {FailToRead, 261, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Expected, ReadSizedText(c.Read, c.FirstSize)) << c.FirstSize;
}
