// Registry paths and shell folders. Test values live under
// HKCU\Software\VeltraTest, HKU\.DEFAULT\Software\VeltraTest,
// HKCR\VeltraTest.Class and directly under HKCU only while a test runs.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "registry.h"
#include "scratchkey.h"

namespace {

struct PathCase {
  std::string path;
  std::string expected;
};

}  // namespace

TEST(RegistryPath, RootsSeparatorsTypesAndDefaults) {
  ScratchKey key;
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key.SetText("Text", "hello world"));
  ASSERT_TRUE(key.SetText("Empty", ""));
  ASSERT_TRUE(key.SetText("Expand", "%SystemRoot%\\x", REG_EXPAND_SZ));
  ASSERT_TRUE(key.SetText("", "the default"));
  ASSERT_TRUE(key.SetDword("Dword", 0x31));
  ASSERT_TRUE(key.SetBinary("Binary", std::string("ab\0", 3)));
  ASSERT_TRUE(key.SetText("Multi", std::string("one\0two\0", 9), REG_MULTI_SZ, false));
  ASSERT_TRUE(key.SetDefault("Sub\\Deeper", "deep default"));

  const PathCase cases[] = {
      {"HKCU\\Software\\VeltraTest\\Text", "hello world"},
      // Whatever follows the root is taken for the separator.
      {"HKCU/Software\\VeltraTest\\Text", "hello world"},
      {"HKCUxSoftware\\VeltraTest\\Text", "hello world"},
      {"HKCU\\Software\\VeltraTest\\Empty", ""},
      {"HKCU\\Software\\VeltraTest\\Expand", "%SystemRoot%\\x"},
      {"HKCU\\Software\\VeltraTest\\", "the default"},
      {"HKCU\\Software\\VeltraTest\\Sub\\Deeper\\", "deep default"},
      {"HKCU\\Software\\VeltraTest\\Dword", ""},
      {"HKCU\\Software\\VeltraTest\\Binary", ""},
      {"HKCU\\Software\\VeltraTest\\Multi", ""},
      {"HKCU\\Software\\VeltraTest\\Missing", ""},
      {"HKCU\\Software\\VeltraTest\\NoSuchKey\\Text", ""},
      {"HKCU\\Software\\VeltraTest\\Sub\\", ""},  // key without a default value
      // Roots are compared case-sensitively; unknown ones fail.
      {"hkcu\\Software\\VeltraTest\\Text", ""},
      {"HkCU\\Software\\VeltraTest\\Text", ""},
      {"HKXX\\Software\\VeltraTest\\Text", ""},
      {"Software\\VeltraTest\\Text", ""},
      {"", ""},
      {"HKCU", ""},
  };
  for (const PathCase& c : cases) EXPECT_EQ(c.expected, ReadRegistryPath(c.path)) << c.path;
}

TEST(RegistryPath, ValueStoredWithoutItsTerminatorIsReadWhole) {
  ScratchKey key;
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key.SetText("Bare", "abc", REG_SZ, false));
  ASSERT_TRUE(key.SetText("One", "x"));
  EXPECT_EQ("abc", ReadRegistryPath("HKCU\\Software\\VeltraTest\\Bare"));
  EXPECT_EQ("x", ReadRegistryPath("HKCU\\Software\\VeltraTest\\One"));
}

TEST(RegistryPath, ValueDirectlyUnderTheRoot) {
  const char name[] = "VeltraTestRootValue";
  const char text[] = "at the root";
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(HKEY_CURRENT_USER, name, 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(text), sizeof text));
  EXPECT_EQ(text, ReadRegistryPath(std::string("HKCU\\") + name));
  RegDeleteValueA(HKEY_CURRENT_USER, name);
  EXPECT_EQ("", ReadRegistryPath(std::string("HKCU\\") + name));
}

TEST(RegistryPath, UsersRootTakesThreeCharacters) {
  ScratchKey key(HKEY_USERS, ".DEFAULT\\Software");
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key.SetText("Name", "default user"));
  EXPECT_EQ("default user", ReadRegistryPath("HKU\\.DEFAULT\\Software\\VeltraTest\\Name"));
  // Four characters would swallow the first one of the key path.
  EXPECT_EQ("", ReadRegistryPath("HKU\\DEFAULT\\Software\\VeltraTest\\Name"));
}

TEST(RegistryPath, ClassesRoot) {
  ScratchKey key(HKEY_CLASSES_ROOT, "", "VeltraTest.Class");
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key.SetText("", "a class"));
  ASSERT_TRUE(key.SetText("Named", "a value"));
  EXPECT_EQ("a class", ReadRegistryPath("HKCR\\VeltraTest.Class\\"));
  EXPECT_EQ("a value", ReadRegistryPath("HKCR\\VeltraTest.Class\\Named"));
}

TEST(RegistryPath, ProgramFilesInTheViewOfA32BitProgram) {
  // A 32-bit program on 64-bit Windows is told the "(x86)" folder, in the
  // registry and in its environment alike. The 64-bit build reads that view
  // where it exists (not in a 64-bit Wine prefix without 32-bit support).
  const char* variable = "ProgramFiles";
#ifdef _WIN64
  HKEY view32;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                    KEY_QUERY_VALUE | KEY_WOW64_32KEY, &view32) == ERROR_SUCCESS) {
    if (RegQueryValueExA(view32, "ProgramFilesDir", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
      variable = "ProgramFiles(x86)";
    RegCloseKey(view32);
  }
#endif
  char expected[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableA(variable, expected, sizeof expected), 0u);
  EXPECT_EQ(expected,
            ReadRegistryPath("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\ProgramFilesDir"));
}

TEST(RegistryString, FoundEmptyMissingAndOtherTypes) {
  ScratchKey key;
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key.SetText("Empty", ""));
  ASSERT_TRUE(key.SetText("Text", "t"));
  ASSERT_TRUE(key.SetDword("Dword", 1));
  std::string value = "old";
  EXPECT_TRUE(ReadRegistryString(key.key(), "Empty", value));
  EXPECT_EQ("", value);
  EXPECT_TRUE(ReadRegistryString(key.key(), "Text", value));
  EXPECT_EQ("t", value);
  EXPECT_FALSE(ReadRegistryString(key.key(), "Dword", value));
  EXPECT_EQ("", value);
  EXPECT_FALSE(ReadRegistryString(key.key(), "Missing", value));
}

TEST(SpecialFolder, FileSystemFoldersAsTheShellGivesThem) {
  const int csidls[] = {0x02, 0x06, 0x07, 0x09, 0x0B, 0x10, 0x14, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x23};
  for (const int csidl : csidls) {
    char path[MAX_PATH] = {};
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, csidl, nullptr, 0, path)) << csidl;
    EXPECT_EQ(path, GetSpecialFolder(csidl)) << csidl;
    EXPECT_NE("", GetSpecialFolder(csidl)) << csidl;
  }
}

TEST(SpecialFolder, VirtualAndUnknownFoldersGiveNothing) {
  EXPECT_EQ("", GetSpecialFolder(CSIDL_DRIVES));  // "My Computer" has no path
  EXPECT_EQ("", GetSpecialFolder(CSIDL_CONTROLS));
  EXPECT_EQ("", GetSpecialFolder(0x7F));
  EXPECT_EQ("", GetSpecialFolder(-1));
}
