// Which destinations name a folder by themselves.
#include <gtest/gtest.h>

#include <string>

#include "folderpath.h"

TEST(FullFolderPath, OnlyDriveRootsAndSharesNameAFolderByThemselves) {
  const struct {
    const char* folder;
    bool full;
  } cases[] = {
      {"C:\\", true},      {"C:\\Program Files\\Acme\\", true},
      {"d:/apps", true},   {"\\\\server\\share\\apps", true},
      {"", false},         {"Apps", false},
      {"Apps\\", false},   {"\\Apps", false},  // the root of whatever drive is current
      {"C:", false},                           // the current folder of drive C
      {"C:Apps", false},   {".\\Apps", false},
      {"..\\Apps", false}, {"\\", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.full, IsFullFolderPath(c.folder)) << '"' << c.folder << '"';
}
