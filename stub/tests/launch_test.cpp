// Starting programs and documents, observed through the recorder fixture
// (veltra-test-recorder.exe beside this test program), which writes down the
// command line and current folder it was started with.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "exitsetup.h"
#include "fileops.h"
#include "launch.h"
#include "pathops.h"
#include "scratchkey.h"

namespace {

std::string OwnFolder() {
  char own[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameA(nullptr, own, sizeof own);
  return DirectoryPart(std::string(own, n));
}

std::string ReadText(const std::string& path) {
  const HANDLE f =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return "";
  char buffer[4096];
  DWORD got = 0;
  ReadFile(f, buffer, sizeof buffer, &got, nullptr);
  CloseHandle(f);
  return std::string(buffer, got);
}

class Launch : public ::testing::Test {
 protected:
  std::string root_;      // scratch folder, also the current folder
  std::string recorder_;  // a copy of the recorder in the scratch folder
  std::string record_;    // where the recorder writes
  std::string windows_;   // the Windows folder the launches are given
  char savedCurrent_[MAX_PATH * 2] = {};

  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    root_ = std::string(temp) + "veltra-launch-" + std::to_string(GetCurrentProcessId()) + "\\";
    RemoveFolderTree(root_);
    ASSERT_TRUE(CreateFolderPath(root_ + "Windows\\"));
    record_ = root_ + "record.txt";
    recorder_ = Install("rec.exe");
    SetEnvironmentVariableA("VELTRA_RECORD_FILE", record_.c_str());
    SetEnvironmentVariableA("VELTRA_RECORD_DELAY", nullptr);
    // The editor of last resort is the recorder too.
    windows_ = root_ + "Windows\\";
    Install("Windows\\notepad.exe");
    GetCurrentDirectoryA(sizeof savedCurrent_, savedCurrent_);
    SetCurrentDirectoryA(root_.c_str());
  }
  void TearDown() override {
    SetCurrentDirectoryA(savedCurrent_);
    SetEnvironmentVariableA("VELTRA_RECORD_FILE", nullptr);
    SetEnvironmentVariableA("VELTRA_RECORD_DELAY", nullptr);
    // A recorder that was not waited for may still be ending and hold its file.
    for (int i = 0; i < 50 && (RemoveFolderTree(root_), DirectoryExists(root_)); ++i) Sleep(100);
  }

  // Copies the recorder to `name` below the scratch folder.
  std::string Install(const std::string& name) {
    const std::string path = root_ + name;
    CreateFolderPath(DirectoryPart(path));
    EXPECT_TRUE(CopyFileA((OwnFolder() + "veltra-test-recorder.exe").c_str(), path.c_str(), FALSE)) << path;
    return path;
  }
  std::string MakeDocument(const std::string& name) {
    const std::string path = root_ + name;
    CreateFolderPath(DirectoryPart(path));
    const HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, f) << path;
    CloseHandle(f);
    return path;
  }
  // The recorded command line, or "(nothing)" when nothing ran.
  std::string RecordedCommandLine() {
    const std::string text = ReadText(record_);
    if (text.empty()) return "(nothing)";
    return text.substr(0, text.find('\n'));
  }
  std::string RecordedFolder() { return RecordedLine(1); }
  std::string RecordedProgram() { return RecordedLine(2); }
  std::string RecordedLine(int number) {
    std::string text = ReadText(record_);
    for (; number > 0; --number) {
      const size_t end = text.find('\n');
      if (end == std::string::npos) return "";
      text.erase(0, end + 1);
    }
    return text.substr(0, text.find('\n'));
  }
  // Waits for a record from a process that was not waited for.
  bool AwaitRecord() {
    for (int i = 0; i < 300 && !FileExists(record_); ++i) Sleep(100);
    return FileExists(record_);
  }
  void ForgetRecord() { DeleteFileA(record_.c_str()); }
};

}  // namespace

TEST_F(Launch, ProgramsRunUnquotedWithTheirParameters) {
  const std::string mixed = Install("Tool.ExE");
  const std::string lower = Install("tool2.exe");
  const struct {
    std::string file;
    std::string params;
    std::string expected;
  } cases[] = {
      {recorder_, "", recorder_},
      {recorder_, "/S -x \"quoted arg\"", recorder_ + " /S -x \"quoted arg\""},
      {mixed, "a", mixed + " a"},
      {lower, "", lower},
  };
  for (const auto& c : cases) {
    ForgetRecord();
    EXPECT_TRUE(ExecuteFile(c.file, c.params, windows_, true)) << c.file << ": error " << GetLastError();
    EXPECT_EQ(c.expected, RecordedCommandLine()) << c.file;
  }
}

TEST_F(Launch, NewProcessInheritsTheCurrentFolder) {
  const std::string program = Install("bin\\tool.exe");
  EXPECT_TRUE(ExecuteFile(program, "", windows_, true));
  EXPECT_EQ(StripTrailingBackslash(root_), StripTrailingBackslash(RecordedFolder()));
}

TEST_F(Launch, ProgramPathWithBlanksIsPassedUnquoted) {
  const std::string program = Install("with blank\\tool.exe");
  // Unquoted, the first candidate the system tries is the path up to the
  // blank, so a "with.exe" there is what runs.
  const std::string decoy = Install("with.exe");
  EXPECT_TRUE(ExecuteFile(program, "p", windows_, true));
  EXPECT_EQ(decoy, RecordedProgram());
  EXPECT_EQ(program + " p", RecordedCommandLine());

  // Without it the system goes on to the whole path (Wine then quotes the
  // name it found, Windows passes the line as it was given).
  ForgetRecord();
  ASSERT_TRUE(DeleteFileA(decoy.c_str()));
  EXPECT_TRUE(ExecuteFile(program, "p", windows_, true));
  EXPECT_EQ(program, RecordedProgram());
  EXPECT_EQ(program + " p", ReplaceAll("\"", "", RecordedCommandLine()));
}

TEST_F(Launch, DocumentsWithoutAssociationOpenInTheWindowsEditor) {
  const std::string editor = windows_ + "notepad.exe";
  const struct {
    std::string name;
    std::string params;
  } cases[] = {
      {"readme.vtnone", ""},     {"readme.vtnone", "-p 1"}, {"notes", ""},  // no dot at all
      {"folder.exe\\notes", ""},                                            // the dot belongs to the folder
      {"tool.exec", ""},                                                    // only EXE makes a program
      {"tool.exe.vtnone", "x"},
  };
  for (const auto& c : cases) {
    const std::string document = MakeDocument(c.name);
    ForgetRecord();
    EXPECT_TRUE(ExecuteFile(document, c.params, windows_, true)) << c.name;
    const std::string expected = editor + " \"" + document + "\"" + (c.params.empty() ? "" : " " + c.params);
    EXPECT_EQ(expected, RecordedCommandLine()) << c.name;
  }
}

TEST_F(Launch, DocumentsOpenWithTheAssociatedProgram) {
  const std::string viewer = Install("viewer\\view.exe");
  // In the classes root itself, in this program's own view: where the
  // shell of this process looks.
  ScratchKey type(HKEY_CLASSES_ROOT, "", ".vtdoc", 0);
  ScratchKey program(HKEY_CLASSES_ROOT, "", "VeltraTest.Document", 0);
  ASSERT_TRUE(type.ok() && program.ok());
  ASSERT_TRUE(type.SetText("", "VeltraTest.Document"));
  ASSERT_TRUE(program.SetDefault("shell\\open\\command", "\"" + viewer + "\" \"%1\""));

  const std::string document = MakeDocument("docs\\manual.vtdoc");
  EXPECT_TRUE(ExecuteFile(document, "", windows_, true));
  EXPECT_EQ(viewer + " \"" + document + "\"", RecordedCommandLine());
  ForgetRecord();
  EXPECT_TRUE(ExecuteFile(document, "/print", windows_, true));
  EXPECT_EQ(viewer + " \"" + document + "\" /print", RecordedCommandLine());
}

TEST_F(Launch, WaitsOnlyWhenAsked) {
  SetEnvironmentVariableA("VELTRA_RECORD_DELAY", "1500");
  EXPECT_TRUE(ExecuteFile(recorder_, "waited", windows_, true));
  EXPECT_TRUE(FileExists(record_));
  EXPECT_EQ(recorder_ + " waited", RecordedCommandLine());

  ForgetRecord();
  EXPECT_TRUE(ExecuteFile(recorder_, "not waited", windows_, false));
  // The recorder holds back for a while before it writes, so a call that
  // returns at once finds no record yet.
  EXPECT_FALSE(FileExists(record_));
  ASSERT_TRUE(AwaitRecord());
  EXPECT_EQ(recorder_ + " not waited", RecordedCommandLine());
}

TEST_F(Launch, NothingStartsForAnEmptyOrMissingFile) {
  EXPECT_FALSE(ExecuteFile("", "", windows_, true));
  EXPECT_FALSE(ExecuteFile("", "params", windows_, false));
  EXPECT_FALSE(ExecuteFile(root_ + "absent.exe", "", windows_, true));
  // Without an editor in the Windows folder a document cannot be opened.
  DeleteFileA((windows_ + "notepad.exe").c_str());
  EXPECT_FALSE(ExecuteFile(MakeDocument("x.vtnone"), "", windows_, true));
  EXPECT_FALSE(FileExists(record_));
}
