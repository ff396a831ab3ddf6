// A folder that exists only for one test: made below the temporary folder,
// named after the process and the test, and removed with everything in it
// (by the exit procedure's own removal) at the end.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "exitsetup.h"
#include "fileops.h"

class ScratchFolder : public ::testing::Test {
 protected:
  std::string root_;

  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    root_ = std::string(temp) + "veltra-test-" + std::to_string(GetCurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + "\\";
    RemoveFolderTree(root_);
    ASSERT_TRUE(CreateFolderPath(root_));
  }
  void TearDown() override { RemoveFolderTree(root_); }

  void WriteFile(const std::string& path, const std::string& bytes = "data") {
    const HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f) << path;
    DWORD written;
    ::WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
  }
};
