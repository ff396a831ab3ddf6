// The stream callbacks over the program's own file and the error texts of the
// cabinet context, run on the test program itself as "own file".
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "cabcontext.h"
#include "cabnotify.h"
#include "extractionui.h"
#include "fileops.h"
#include "packagefile.h"
#include "pausegate.h"
#include "setupparams.h"
#include "streamio.h"
#include "uObfuscate.h"

namespace {

std::vector<uint8_t> OwnBytes(size_t offset, size_t count) {
  std::vector<uint8_t> bytes(count);
  const HANDLE f = CreateFileA(OwnExecutablePath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  SetFilePointer(f, static_cast<LONG>(offset), nullptr, FILE_BEGIN);
  DWORD read = 0;
  ReadFile(f, bytes.data(), static_cast<DWORD>(count), &read, nullptr);
  CloseHandle(f);
  bytes.resize(read);
  return bytes;
}

class OwnFileStream : public ::testing::Test {
 protected:
  void SetUp() override {
    ExtractionUi = {};  // no one in front of it
    SetupParams.CabinetOffset = 1000;
    SetupParams.CabinetScrambled = false;
    SetupParams.ScrambleKey = "RUVEKA";
  }
  intptr_t OpenVirtual() {
    char name[] = "qalvo";
    return StreamOpen(name, 0, 0);
  }
};

}  // namespace

TEST_F(OwnFileStream, VirtualNamePresentsTheCabinetFromItsFirstByte) {
  const intptr_t hf = OpenVirtual();
  ASSERT_NE(-1, hf);
  EXPECT_TRUE(IsOwnFile(hf));
  EXPECT_EQ(0, StreamSeek(hf, 0, SEEK_CUR));
  EXPECT_EQ(100, StreamSeek(hf, 100, SEEK_SET));
  EXPECT_EQ(1100u, SetFilePointer(reinterpret_cast<HANDLE>(hf), 0, nullptr, FILE_CURRENT));
  EXPECT_EQ(110, StreamSeek(hf, 10, SEEK_CUR));
  uint8_t buffer[16];
  EXPECT_EQ(16u, StreamRead(hf, buffer, 16));
  EXPECT_EQ(OwnBytes(1110, 16), std::vector<uint8_t>(buffer, buffer + 16));
  EXPECT_EQ(0, StreamClose(hf));
  EXPECT_FALSE(IsOwnFile(hf));
}

// A cabinet library may keep many handles on the cabinet open at once; every
// one of them must read the cabinet, not the stub's first bytes.
TEST_F(OwnFileStream, EveryOpenVirtualHandleIsTranslated) {
  std::vector<intptr_t> handles;
  for (int i = 0; i < 12; ++i) handles.push_back(OpenVirtual());
  const std::vector<uint8_t> expected = OwnBytes(1000, 8);
  for (intptr_t hf : handles) {
    ASSERT_NE(-1, hf);
    EXPECT_TRUE(IsOwnFile(hf));
    EXPECT_EQ(0, StreamSeek(hf, 0, SEEK_SET));
    uint8_t buffer[8];
    ASSERT_EQ(8u, StreamRead(hf, buffer, 8));
    EXPECT_EQ(expected, std::vector<uint8_t>(buffer, buffer + 8));
  }
  for (intptr_t hf : handles) StreamClose(hf);
  for (intptr_t hf : handles) EXPECT_FALSE(IsOwnFile(hf));
}

TEST_F(OwnFileStream, ScrambledReadsFollowTheStreamPosition) {
  SetupParams.CabinetScrambled = true;
  SetupParams.ScrambleKey = "RUVEKA!";  // length 7: position 9 starts at key index 3
  const intptr_t hf = OpenVirtual();
  ASSERT_NE(-1, hf);
  StreamSeek(hf, 9, SEEK_SET);
  uint8_t buffer[20];
  ASSERT_EQ(20u, StreamRead(hf, buffer, 20));
  std::vector<uint8_t> expected = OwnBytes(1009, 20);
  Descramble(expected.data(), InvertKey("RUVEKA!"), 20, 3);
  EXPECT_EQ(expected, std::vector<uint8_t>(buffer, buffer + 20));
  StreamClose(hf);
}

TEST_F(OwnFileStream, OtherNamesAreOrdinaryFiles) {
  char upper[] = "QALVO";
  EXPECT_EQ(-1, StreamOpen(upper, 0, 0));  // no such file in the current folder
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string path = std::string(temp) + "veltra-stream-test.bin";
  DeleteFileA(path.c_str());
  const intptr_t created = StreamOpen(&path[0], 0x0100, 0);
  ASSERT_NE(-1, created);
  EXPECT_FALSE(IsOwnFile(created));
  EXPECT_EQ(5, StreamSeek(created, 5, SEEK_SET));  // not shifted by CabinetOffset
  StreamClose(created);
  EXPECT_EQ(-1, StreamOpen(&path[0], 0x0100, 0));  // creating an existing file fails
  int32_t err = 0;
  EXPECT_EQ(-1, StreamOpenEx(path.c_str(), 0x0100, 0, &err, nullptr));
  EXPECT_EQ(ERROR_FILE_EXISTS, err);
  DeleteFileA(path.c_str());
}

TEST(CabErrorText, MapsEveryCodeToItsMessage) {
  for (int i = 0; i < kLangMessageCount; ++i) Lang[i] = "message " + std::to_string(i);
  const struct {
    int code;
    std::string text;
  } cases[] = {{0, "?"},           {1, "message 67"}, {2, "message 70"},  {3, "message 69"},
               {4, "message 71"},  {5, "message 72"}, {6, "message 68"},  {7, "CabFailDecode"},
               {8, "message 73"},  {9, "message 74"}, {10, "message 75"}, {11, "message 76"},
               {12, "message 77"}, {-1, "message 77"}};
  for (const auto& c : cases) {
    ERF error = {c.code, 0, 1};
    EXPECT_EQ(c.text, CabErrorText(error)) << c.code;
  }
}

namespace {
std::atomic<int> GatePasses{0};
std::atomic<bool> GateStop{false};

DWORD WINAPI PassGateRepeatedly(LPVOID) {
  while (!GateStop.load()) {
    PassPauseGate();
    ++GatePasses;
  }
  return 0;
}
}  // namespace

TEST(PauseGate, HoldsTheWorkerOnlyWhileClosed) {
  // The closing thread itself is never held.
  ClosePauseGate();
  PassPauseGate();
  OpenPauseGate();

  GatePasses = 0;
  GateStop = false;
  const HANDLE worker = CreateThread(nullptr, 0, PassGateRepeatedly, nullptr, 0, nullptr);
  ASSERT_NE(nullptr, worker);
  while (GatePasses.load() < 1000) Sleep(1);  // passes freely while open

  ClosePauseGate();
  ASSERT_TRUE(WaitWorkerAtGate(worker, 5000));
  const int parkedAt = GatePasses.load();
  Sleep(100);
  EXPECT_EQ(parkedAt, GatePasses.load());  // held: no pass while closed

  OpenPauseGate();
  const int resumedFrom = GatePasses.load();
  for (int i = 0; i < 500 && GatePasses.load() == resumedFrom; ++i) Sleep(10);
  EXPECT_GT(GatePasses.load(), resumedFrom);  // released when opened

  GateStop = true;
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker, 5000));
  // A worker that has ended counts as out of the way.
  ClosePauseGate();
  EXPECT_TRUE(WaitWorkerAtGate(worker, 1000));
  OpenPauseGate();
  CloseHandle(worker);
}

namespace {
// A worker busy in one slow step (a write to a slow share) before it reaches
// the gate.
DWORD WINAPI PassGateAfterSlowStep(LPVOID) {
  Sleep(6000);
  PassPauseGate();
  return 0;
}
}  // namespace

TEST(PauseGate, WaitsForASlowWorkerToPark) {
  ClosePauseGate();
  const HANDLE worker = CreateThread(nullptr, 0, PassGateAfterSlowStep, nullptr, 0, nullptr);
  ASSERT_NE(nullptr, worker);
  const DWORD start = GetTickCount();
  ASSERT_TRUE(WaitWorkerAtGate(worker, INFINITE));
  EXPECT_GE(GetTickCount() - start, 5900u);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(worker, 0));  // parked, not ended
  OpenPauseGate();
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker, 5000));
  CloseHandle(worker);
}

namespace {

bool RemoveEntry(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    RemoveDirectoryA(path.c_str());
  } else {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
  }
  return true;
}

std::string FileText(const std::string& path) {
  const HANDLE f =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  char text[16] = {};
  DWORD read = 0;
  ReadFile(f, text, sizeof text - 1, &read, nullptr);
  CloseHandle(f);
  return text;
}

void PutFile(const std::string& path, const char* text) {
  const HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(f, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
  CloseHandle(f);
}

// Files through the notification handler as FDICopy passes them: created at
// fdintCOPY_FILE, written, then closed with time and attributes at
// fdintCLOSE_FILE_INFO. The handler remembers the last folder it found and
// creates before it asks whether a file exists; the steps run in order, so
// that each finds what the ones before it left.
class FileNotifications : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    root = std::string(temp) + "veltra-notify-test\\";
    WalkFolder(root, "*.*", true, RemoveEntry);
    CreateDirectoryA(root.c_str(), nullptr);
    SetupParams.ExtractDir = root;
    ExtractionUi = {};  // an existing file is kept; a prompt would end the test
  }
  void TearDown() override { WalkFolder(root, "*.*", true, RemoveEntry); }

  // The handle FDI would get, or 0 when the file is skipped; a file is
  // written "new" and closed with the given attributes.
  intptr_t Extract(const char* stored, uint16_t attributes) {
    FDINOTIFICATION n = {};
    n.psz1 = const_cast<char*>(stored);
    n.cb = 3;
    const intptr_t handle = CabNotify(fdintCOPY_FILE, &n);
    if (handle == 0 || handle == -1) return handle;
    char text[] = "new";
    StreamWrite(handle, text, 3);
    n.hf = handle;
    n.date = 0x5A21;  // 2025-01-01
    n.attribs = attributes;
    EXPECT_EQ(1, CabNotify(fdintCLOSE_FILE_INFO, &n));
    return handle;
  }

  std::string root;
};

}  // namespace

TEST_F(FileNotifications, CreateReplaceOrKeepByWhatIsThere) {
  const uint16_t archive = FILE_ATTRIBUTE_ARCHIVE, readOnly = FILE_ATTRIBUTE_READONLY | archive;
  const struct {
    const char* step;
    const char* stored;
    uint16_t overwriteMode;
    const char* existing;  // what the target holds before, or nothing
    bool removeSubFolder;  // the folder "sub" goes before this step
    uint16_t attributes;
    bool extracted;
    const char* text;  // what the target holds after
  } steps[] = {
      {"new file at the top", "a.txt", 0, nullptr, false, archive, true, "new"},
      {"new folder", "sub\\b.txt", 0, nullptr, false, readOnly, true, "new"},
      {"same folder again", "sub\\c.txt", 0, nullptr, false, archive, true, "new"},
      {"remembered folder gone", "sub\\d.txt", 0, nullptr, true, archive, true, "new"},
      {"existing file, overwrite all", "sub\\e.txt", 1, "old", false, archive, true, "new"},
      {"existing read-only file, overwrite all", "sub\\b.txt", 1, nullptr, false, archive, true, "new"},
      {"existing file, keep all", "a.txt", 2, "old", false, archive, false, "old"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.step);
    const std::string target = root + s.stored;
    if (s.removeSubFolder) WalkFolder(root + "sub", "*.*", true, RemoveEntry);
    if (s.existing) PutFile(target, s.existing);
    SetupParams.OverwriteMode = s.overwriteMode;
    BytesDone = 0;
    const intptr_t handle = Extract(s.stored, s.attributes);
    EXPECT_EQ(s.extracted, handle != 0 && handle != -1);
    EXPECT_EQ(3, BytesDone);  // written, or counted as done when kept
    EXPECT_EQ(s.text, FileText(target));
    if (s.extracted) {
      const DWORD attributes = GetFileAttributesA(target.c_str());
      EXPECT_EQ(s.attributes == readOnly, (attributes & FILE_ATTRIBUTE_READONLY) != 0) << attributes;
      EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
  }
}
