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
  std::string MakeDocument(const std::string& name, const std::string& content = "") {
    const std::string path = root_ + name;
    CreateFolderPath(DirectoryPart(path));
    const HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, f) << path;
    DWORD written = 0;
    WriteFile(f, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
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

TEST_F(Launch, ProgramsRunQuotedWithTheirParametersAsWritten) {
  const std::string mixed = Install("Tool.ExE");
  const std::string lower = Install("tool2.exe");
  const struct {
    std::string file;
    std::string params;
    std::string expected;
  } cases[] = {
      {recorder_, "", "\"" + recorder_ + "\""},
      {recorder_, "/S -x \"quoted arg\"", "\"" + recorder_ + "\" /S -x \"quoted arg\""},
      {mixed, "a", "\"" + mixed + "\" a"},
      {lower, "", "\"" + lower + "\""},
  };
  for (const auto& c : cases) {
    ForgetRecord();
    EXPECT_TRUE(ExecuteFile(c.file, c.params, windows_, true).Started)
        << c.file << ": error " << GetLastError();
    EXPECT_EQ(c.expected, RecordedCommandLine()) << c.file;
  }
}

TEST_F(Launch, NewProcessInheritsTheCurrentFolder) {
  const std::string program = Install("bin\\tool.exe");
  EXPECT_TRUE(ExecuteFile(program, "", windows_, true).Started);
  EXPECT_EQ(StripTrailingBackslash(root_), StripTrailingBackslash(RecordedFolder()));
  ForgetRecord();
  EXPECT_TRUE(
      ExecuteFile(MakeDocument("bin\\run.cmd", "@\"" + recorder_ + "\"\r\n"), "", windows_, true).Started);
  EXPECT_EQ(StripTrailingBackslash(root_), StripTrailingBackslash(RecordedFolder()));
}

TEST_F(Launch, ProgramPathWithBlanksRunsThatProgramAndNoPrefixOfIt) {
  const std::string program = Install("with blank\\tool.exe");
  // Unquoted, the first candidate the system would try is the path up to
  // the blank, so a "with.exe" there would run instead.
  const std::string decoy = Install("with.exe");
  EXPECT_TRUE(ExecuteFile(program, "p", windows_, true).Started);
  EXPECT_EQ(program, RecordedProgram());
  EXPECT_EQ("\"" + program + "\" p", RecordedCommandLine());
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
    EXPECT_TRUE(ExecuteFile(document, c.params, windows_, true).Started) << c.name;
    const std::string expected =
        "\"" + editor + "\" \"" + document + "\"" + (c.params.empty() ? "" : " " + c.params);
    EXPECT_EQ(expected, RecordedCommandLine()) << c.name;
  }
}

// The association's command is used whole: its own arguments stay (as
// "msiexec /i" does for an installer package), and the parameters go where
// it puts them.
TEST_F(Launch, DocumentsOpenThroughTheirAssociationsCommand) {
  const std::string viewer = Install("viewer dir\\view.exe");
  // In the classes root itself, in this program's own view: where the
  // shell of this process looks.
  ScratchKey type(HKEY_CLASSES_ROOT, "", ".vtdoc", 0);
  ScratchKey program(HKEY_CLASSES_ROOT, "", "VeltraTest.Document", 0);
  ASSERT_TRUE(type.ok() && program.ok());
  ASSERT_TRUE(type.SetText("", "VeltraTest.Document"));
  ASSERT_TRUE(program.SetDefault("shell\\open\\command", "\"" + viewer + "\" /open \"%1\" %*"));

  const std::string document = MakeDocument("docs\\manual.vtdoc");
  const struct {
    std::string params;
    std::string expected;
  } cases[] = {
      {"", "\"" + viewer + "\" /open \"" + document + "\" "},
      {"/print 2", "\"" + viewer + "\" /open \"" + document + "\" /print 2"},
  };
  for (const auto& c : cases) {
    ForgetRecord();
    const FileRun run = ExecuteFile(document, c.params, windows_, true);
    EXPECT_TRUE(run.Started && run.Ended) << c.params;
    // Trailing blanks of an empty %* are the shell's own affair.
    std::string recorded = RecordedCommandLine();
    while (!recorded.empty() && recorded.back() == ' ') recorded.pop_back();
    std::string expected = c.expected;
    while (!expected.empty() && expected.back() == ' ') expected.pop_back();
    EXPECT_EQ(expected, recorded) << c.params;
  }
}

TEST_F(Launch, AWaitedProcessGivesItsExitCode) {
  const std::string batch = MakeDocument("ends.cmd", "@exit /b 1603\r\n");
  const struct {
    std::string file;
    const char* code;  // VELTRA_RECORD_EXIT
    DWORD expected;
  } cases[] = {
      {recorder_, "0", 0},
      {recorder_, "1", 1},
      {recorder_, "3010", 3010},
      {batch, nullptr, 1603},
  };
  for (const auto& c : cases) {
    SetEnvironmentVariableA("VELTRA_RECORD_EXIT", c.code);
    const FileRun run = ExecuteFile(c.file, "", windows_, true);
    EXPECT_TRUE(run.Started && run.Ended) << c.file;
    EXPECT_EQ(c.expected, run.ExitCode) << c.file;
  }
  SetEnvironmentVariableA("VELTRA_RECORD_EXIT", "3010");
  const FileRun unwaited = ExecuteFile(recorder_, "", windows_, false);
  EXPECT_TRUE(unwaited.Started);
  EXPECT_FALSE(unwaited.Ended);
  EXPECT_TRUE(AwaitRecord());
  SetEnvironmentVariableA("VELTRA_RECORD_EXIT", nullptr);
}

TEST_F(Launch, WaitsOnlyWhenAsked) {
  SetEnvironmentVariableA("VELTRA_RECORD_DELAY", "1500");
  EXPECT_TRUE(ExecuteFile(recorder_, "waited", windows_, true).Started);
  EXPECT_TRUE(FileExists(record_));
  EXPECT_EQ("\"" + recorder_ + "\" waited", RecordedCommandLine());

  ForgetRecord();
  EXPECT_TRUE(ExecuteFile(recorder_, "not waited", windows_, false).Started);
  // The recorder holds back for a while before it writes, so a call that
  // returns at once finds no record yet.
  EXPECT_FALSE(FileExists(record_));
  ASSERT_TRUE(AwaitRecord());
  EXPECT_EQ("\"" + recorder_ + "\" not waited", RecordedCommandLine());
}

TEST_F(Launch, NothingStartsForAnEmptyOrMissingFile) {
  EXPECT_FALSE(ExecuteFile("", "", windows_, true).Started);
  EXPECT_FALSE(ExecuteFile("", "params", windows_, false).Started);
  EXPECT_FALSE(ExecuteFile(root_ + "absent.exe", "", windows_, true).Started);
  EXPECT_FALSE(ExecuteFile(root_ + "absent.msi", "", windows_, true).Started);
  EXPECT_FALSE(ExecuteFile(root_ + "absent.vtnone", "", windows_, true).Started);
  // Without an editor in the Windows folder a document cannot be opened.
  DeleteFileA((windows_ + "notepad.exe").c_str());
  EXPECT_FALSE(ExecuteFile(MakeDocument("x.vtnone"), "", windows_, true).Started);
  EXPECT_FALSE(FileExists(record_));
}

namespace {

const UINT kAsked = WM_APP + 7;

LRESULT CALLBACK AnsweringWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kAsked) return 42;
  return DefWindowProcA(window, message, wParam, lParam);
}

struct Question {
  HWND Window;
  LRESULT Answer;
  BOOL Answered;
};

// Sends to a window of the waiting thread, as a program that broadcasts does.
DWORD WINAPI AskTheWindow(LPVOID parameter) {
  Question* question = static_cast<Question*>(parameter);
  DWORD_PTR answer = 0;
  question->Answered = SendMessageTimeoutA(question->Window, kAsked, 0, 0, SMTO_NORMAL, 20000, &answer) != 0;
  question->Answer = static_cast<LRESULT>(answer);
  return 0;
}

}  // namespace

TEST(AwaitWithMessages, AnswersWhatIsSentMeanwhile) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = AnsweringWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "VeltraAnsweringWindow";
  RegisterClassA(&windowClass);
  const HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                      nullptr, windowClass.hInstance, nullptr);
  ASSERT_NE(nullptr, window);
  Question question = {window, 0, FALSE};
  const HANDLE asker = CreateThread(nullptr, 0, AskTheWindow, &question, 0, nullptr);
  ASSERT_NE(nullptr, asker);
  // Blocking without delivering, this wait would last until the sender gave up.
  AwaitWithMessages(asker);
  EXPECT_TRUE(question.Answered);
  EXPECT_EQ(42, question.Answer);
  CloseHandle(asker);
  DestroyWindow(window);
}
