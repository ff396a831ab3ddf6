#include "project.h"

#include <gtest/gtest.h>

#include "pack_test_util.h"
#include "project_loading.h"
#include "projectfiles.h"
#include "storednames.h"

using packtest::Load;
using packtest::Loaded;
using packtest::ProjectDir;

// Every kind of mistake names the project file and the line it is on.
TEST(ProjectFile, MistakesAreReportedWithFileAndLine) {
  const std::string head = "[Setup]\nAppName = X\n";
  const struct {
    const char* title;
    std::string text;
    int line;
    const char* says;
  } cases[] = {
      {"unknown key", head + "Colour = red\n", 3, "unknown key Colour in [Setup]"},
      {"unknown section", head + "[Options]\nx = 1\n", 3, "unknown section [Options]"},
      {"unknown package key", head + "[Package]\nOutptu = x.exe\n", 4, "unknown key Outptu"},
      {"missing file", head + "[Files]\na.txt = files/nothere.txt\n", 4, "not found"},
      {"missing folder", head + "[Files]\ndocs\\ = nothere\n", 4, "not found"},
      {"bad MinFree", head + "MinFree = 12x\n", 3, "MinFree must be a byte count"},
      {"negative MinFree", head + "MinFree = -5\n", 3, "MinFree must be a byte count"},
      {"bad VolumeSize", head + "[Package]\nVolumeSize = lots\n", 4, "VolumeSize must be"},
      {"VolumeSize of 2G", head + "[Package]\nVolumeSize = 2G\n", 4, "below 2G"},
      {"bad flag", head + "Unattended = maybe\n", 3, "Unattended must be 1 or 0"},
      {"bad overwrite mode", head + "OverwriteMode = 7\n", 3, "OverwriteMode must be"},
      {"bad level", head + "[Package]\nCompressionLevel = 10\n", 4, "CompressionLevel must be a digit"},
      {"bad compression", head + "[Package]\nCompression = lzma\n", 4,
       "Compression must be mszip, lzx or stored"},
      {"LZX window too large", head + "[Package]\nLzxWindow = 22\n", 4, "LzxWindow must be 15 to 21"},
      {"LZX window not a number", head + "[Package]\nLzxWindow = 2M\n", 4, "LzxWindow must be 15 to 21"},
      {"slash in stored name", head + "[Files]\na/b.txt = files/a.txt\n", 4, "'/' instead of"},
      {"colon in stored name", head + "[Files]\nC:\\a.txt = files/a.txt\n", 4, "does not allow"},
      {"dot-dot", head + "[Files]\n..\\a.txt = files/a.txt\n", 4, "\"..\""},
      {"placeholder inside", head + "[Files]\ndocs\\<APPNAME>.txt = files/a.txt\n", 4,
       "must begin with a folder placeholder"},
      {"no backslash after token", head + "[Files]\n<SYS>x.dll = files/a.txt\n", 4,
       "followed by a backslash"},
      {"unknown token", head + "[Files]\n<SYS>\\<FOO>.txt = files/a.txt\n", 4, "may only hold <APPNAME>"},
      {"device name", head + "[Files]\ndocs\\con.txt = files/a.txt\n", 4, "device name"},
      {"final dot", head + "[Files]\nreadme. = files/a.txt\n", 4, "final \".\""},
      {"folder stored as file", head + "[Files]\ndocs = files/sub\n", 4, "is a folder"},
      {"not a bitmap", head + "[Package]\nSidePicture = not-a-bitmap.bmp\n", 4, "not a Windows bitmap"},
      {"missing picture", head + "[Package]\nHeaderPicture = none.bmp\n", 4, "file not found"},
      {"bad language text", head + "[Package]\nLanguage = files/a.txt\n", 4, "Language:"},
      {"key twice", head + "AppName = Y\n", 3, "given twice in [Setup] (first at line 2)"},
      {"section twice", head + "[Setup]\nDestDir = x\n", 3, "[Setup] appears twice"},
      {"same name twice", head + "[Files]\nA.TXT = files/a.txt\na.txt = files/sub/b.txt\n", 5,
       "stored twice"},
      {"same accented name twice",
       head + "[Files]\n\xC3\x89T\xC3\x89.txt = files/a.txt\n\xC3\xA9t\xC3\xA9.txt = files/sub/b.txt\n", 5,
       "\xC3\xA9t\xC3\xA9.txt is stored twice"},
      {"file and folder", head + "[Files]\nx = files/a.txt\nx\\y = files/a.txt\n", 5, "needs a folder"},
      {"cabinet and files", head + "[Package]\nCabinet = files/a.txt\n[Files]\nfiles/a.txt\n", 4,
       "leave out [Files]"},
      {"terminator in licence", head + "LicenseText = files/lic.txt\n", 3, "cannot be used as it is"},
      {"line before a section", "AppName = X\n" + head, 1, "before the first [Section]"},
      {"malformed header", head + "[Files\n", 3, "malformed section header"},
      {"key without value", head + "DestDir\n", 3, "expected key = value"},
      {"missing stub", head + "[Package]\nStub = nothere.exe\n", 4, "Stub: file not found"},
      {"no AppName", "[Setup]\nDestDir = x\n", 1, "needs an AppName"},
      {"stored name outside the code page", head + "[Files]\n\xE6\x97\xA5\xE6\x9C\xAC.txt = files/a.txt\n", 4,
       "\"\xE6\x97\xA5\" (U+65E5) is not in code page 1252"},
      {"text outside the code page", "[Setup]\nAppName = \xD0\x96\n", 2, "AppName: \"\xD0\x96\" (U+0416)"},
      {"project not in UTF-8", head + "DestDir = caf\xE9\n", 3, "declare InputEncoding = ansi"},
      {"licence not in UTF-8", head + "LicenseText = files/latin1.txt\n", 3, "cannot be stored in code page"},
      {"unknown language", head + "[Package]\nLanguage = klingon\n", 4,
       "shipped: chinese, czech, dutch, english"},
      {"unsupported code page", head + "[Package]\nCodePage = 437\n", 4, "CodePage must be"},
      {"unknown encoding", head + "[Package]\nInputEncoding = latin1\n", 4, "utf-8 or ansi"},
  };
  for (const auto& c : cases) {
    ProjectDir dir;
    dir.Write("files/lic.txt", "Licence\n\x03\x03\x03\nmore\n");
    dir.Write("files/latin1.txt", "Licence\ncaf\xE9\n");
    const Loaded l = Load(dir, c.text);
    EXPECT_FALSE(l.ok) << c.title;
    const std::string where = dir.File("p.ini") + ":" + std::to_string(c.line) + ": error: ";
    const std::string all = l.AllErrors();
    const size_t at = all.find(where);
    EXPECT_NE(at, std::string::npos) << c.title << ": no error at line " << c.line << " in\n" << all;
    if (at != std::string::npos)
      EXPECT_NE(all.find(c.says, at), std::string::npos) << c.title << ": wrong text in\n" << all;
  }
}

TEST(ProjectFile, BadLanguageTextNamesItsOwnLine) {
  ProjectDir dir;
  std::string lang = WriteLangText(DefaultLangTable());
  lang.erase(lang.size() - 3);  // no end-marker line
  dir.Write("lang.txt", lang);
  const Loaded l = Load(dir, "[Setup]\nAppName = X\n[Package]\nLanguage = lang.txt\n");
  EXPECT_FALSE(l.ok);
  EXPECT_NE(l.AllErrors().find(dir.File("lang.txt") + ": error: "), std::string::npos) << l.AllErrors();
}

TEST(ProjectFile, ReadsEveryKeyWithPathsRelativeToTheProject) {
  ProjectDir dir;
  const Loaded l = Load(dir,
                        "; a complete project\n"
                        "[setup]\n"
                        "appname = Demo App\n"
                        "Unattended = yes\n"
                        "MinFree = 2M\n"
                        "DestDir = <PROGRAM FILES>\\Demo\n"
                        "OverwriteMode = keep\n"
                        "ShowUnpackPage = 1\n"
                        "LaunchFile = <INSTALL>\\demo.exe\n"
                        "ReadmeFile = <INSTALL>\\readme.txt\n"
                        "RunProgram = <INSTALL>\\setup.exe\n"
                        "RunParams = /q \"<INSTALL>\"; more\n"
                        "StartQuestion = Install?<br/>Sure?\n"
                        "FinalMessage = Done.\n"
                        "ReadmeText = readme.txt\n"
                        "LicenseText = license.txt\n"
                        "[Package]\n"
                        "Output = out/Demo.exe\n"
                        "Stub = stub.exe\n"
                        "CabinetLibrary = lib.dll\n"
                        "Password = pw; with semicolon\n"
                        "Language = lang.txt\n"
                        "SidePicture = side.bmp\n"
                        "HeaderPicture = side.bmp\n"
                        "Compression = stored\n"
                        "CompressionLevel = 9\n"
                        "VolumeSize = 1440K\n"
                        "[Files]\n"
                        "bin\\ = files/sub/b.txt\n"
                        "files/sub\n"
                        "<SYS>\\demo.dat = files/a.txt\n"
                        "\\ = files/sub/deeper\n");
  ASSERT_TRUE(l.ok) << l.AllErrors();
  const Project& p = l.project;
  EXPECT_EQ("Demo App", p.script.AppName);
  EXPECT_TRUE(p.script.Unattended);
  EXPECT_EQ(2 << 20, p.script.MinFree);
  EXPECT_TRUE(p.minFreeGiven);
  EXPECT_EQ("<PROGRAM FILES>\\Demo", p.script.DestDir);
  EXPECT_EQ(2, p.script.OverwriteMode);
  EXPECT_TRUE(p.script.ShowUnpackPage);
  EXPECT_EQ("/q \"<INSTALL>\"; more", p.script.RunParams);
  EXPECT_EQ("Install?<br/>Sure?", p.script.StartQuestion);
  EXPECT_EQ("Read me\r\n\r\nsecond paragraph", p.script.ReadmeText);
  EXPECT_EQ("Licence", p.script.LicenseText);
  EXPECT_EQ(dir.File("out/Demo.exe"), p.output);
  EXPECT_EQ(dir.File("stub.exe"), p.stub);
  EXPECT_EQ(dir.File("lib.dll"), p.cabinetLibrary);
  EXPECT_EQ("pw; with semicolon", p.password);
  EXPECT_EQ(WriteLangText(DefaultLangTable()), p.languageText);
  EXPECT_EQ(dir.File("side.bmp"), p.sidePicture);
  EXPECT_EQ(cab::Compression::Stored, p.compression);
  EXPECT_EQ(9, p.level);
  EXPECT_EQ(1440u * 1024, p.volumeSize);
  std::vector<std::string> names;
  for (const PayloadFile& f : p.files) names.push_back(f.storedName);
  const std::vector<std::string> expected = {"<SYS>\\demo.dat", "bin\\b.txt", "c.bin", "sub\\b.txt",
                                             "sub\\deeper\\c.bin"};
  EXPECT_EQ(expected, names);
  EXPECT_EQ(dir.File("files/sub/deeper/c.bin"), p.files[2].sourcePath);
  EXPECT_EQ(300000u, p.files[2].size);
  EXPECT_EQ(32, p.files[2].line);
  // The readme's leading empty lines were dropped, and that is said.
  ASSERT_EQ(1u, l.diagnostics.Warnings().size());
  EXPECT_NE(l.diagnostics.Warnings()[0].find("2 empty line(s) at the start dropped"), std::string::npos);
}

TEST(ProjectFile, DefaultsWhenKeysAreLeftOut) {
  ProjectDir dir;
  const Loaded l =
      Load(dir, "\xEF\xBB\xBF[Setup]\r\nAppName=X\r\nMinFree = auto\r\n[Files]\r\nfiles/a.txt\r\n");
  ASSERT_TRUE(l.ok) << l.AllErrors();
  EXPECT_FALSE(l.project.minFreeGiven);
  EXPECT_EQ(dir.File("Setup.exe"), l.project.output);
  EXPECT_EQ(cab::Compression::MsZip, l.project.compression);
  EXPECT_EQ(6, l.project.level);
  EXPECT_EQ(0u, l.project.volumeSize);
  EXPECT_TRUE(l.project.stub.empty() && l.project.cabinetLibrary.empty() && !l.project.noCabinetLibrary);
  EXPECT_FALSE(l.project.script.Unattended);
  ASSERT_EQ(1u, l.project.files.size());
  EXPECT_EQ("a.txt", l.project.files[0].storedName);
  EXPECT_EQ(0u, l.diagnostics.Warnings().size());  // a byte order mark just says UTF-8
  EXPECT_EQ(1252, l.project.codePage);
  EXPECT_EQ("", l.project.language);
}

// Names and texts go into the package in its code page, whether the project
// is written in UTF-8 or in that code page; a shipped language is taken by
// name. The licence file is UTF-8 either way (it starts with a byte order
// mark), the names in the folder are the host's.
TEST(ProjectFile, NamesAndTextsAreStoredInTheCodePage) {
  for (const bool ansi : {false, true}) {
    SCOPED_TRACE(ansi ? "InputEncoding = ansi" : "UTF-8");
    ProjectDir dir;
    dir.Mkdir("files/uni");
    dir.Write("files/uni/na\xC3\xAFve caf\xC3\xA9.txt", "x");
    dir.Write("files/lic.txt",
              "\xEF\xBB\xBF"
              "Lizenz f\xC3\xBCr alle\n");
    const std::string e = ansi ? "\xE9" : "\xC3\xA9", u = ansi ? "\xDC" : "\xC3\x9C";
    const Loaded l = Load(dir, "[Setup]\nAppName = Caf" + e +
                                   "\nLicenseText = files/lic.txt\n"
                                   "[Package]\nLanguage = German\nPassword = s" +
                                   e + "same\n" + (ansi ? "InputEncoding = ansi\n" : "") + "[Files]\nr" + e +
                                   "sum" + e + ".txt = files/a.txt\n" + u + "bersicht\\ = files/uni\n");
    ASSERT_TRUE(l.ok) << l.AllErrors();
    EXPECT_EQ("Caf\xE9", l.project.script.AppName);
    EXPECT_EQ("Lizenz f\xFCr alle", l.project.script.LicenseText);
    EXPECT_EQ("s\xE9same", l.project.password);
    EXPECT_EQ("german", l.project.language);
    EXPECT_EQ(0u, l.project.languageText.find("Installation von <APPNAME>\r\nFehler\r\n"));
    ASSERT_EQ(2u, l.project.files.size());
    EXPECT_EQ("r\xE9sum\xE9.txt", l.project.files[0].storedName);
    EXPECT_EQ(
        "\xDC"
        "bersicht\\na\xEFve caf\xE9.txt",
        l.project.files[1].storedName);
  }
}

TEST(ProjectFile, ByteCounts) {
  const struct {
    const char* text;
    bool ok;
    uint64_t value;
  } cases[] = {
      {"0", true, 0},
      {"1440K", true, 1474560},
      {"100m", true, 104857600},
      {"2G", true, 2147483648},
      {"12", true, 12},
      {"", false, 0},
      {"K", false, 0},
      {"-1", false, 0},
      {"1.5M", false, 0},
      {"10KB", false, 0},
      {" 5", false, 0},
      {"99999999999999999999", false, 0},
      {"9223372036854775807", true, 9223372036854775807u},
      {"9223372036854775808", false, 0},
      {"8589934591G", true, 9223372035781033984u},
      {"8589934592G", false, 0},
  };
  for (const auto& c : cases) {
    uint64_t v = 12345;
    EXPECT_EQ(c.ok, ParseByteCount(c.text, v)) << c.text;
    if (c.ok) EXPECT_EQ(c.value, v) << c.text;
  }
}

TEST(StoredNames, WhatTheStubCanWrite) {
  const struct {
    const char* name;
    bool ok;
  } cases[] = {
      {"readme.txt", true},
      {"docs\\sub\\notes.txt", true},
      {"<SYS>\\demo.dll", true},
      {"<PROGRAM FILES>\\<APPNAME>\\app.exe", true},
      {"<SRC>setup.log", true},
      {"<SYSTEM DRIVE>\\x.txt", true},
      {"<COMMON_STARTMENU>\\Demo\\x.lnk", true},
      {"<SRC>\\setup.log", false},  // <SRC> keeps its own backslash
      {"<WIN>win.ini", false},      // <WIN> loses it
      {"<SYS>\\", false},
      {"<SYS>", false},
      {"docs\\<SYS>\\x", false},    // not at the start: lands nowhere known
      {"<APPNAME>\\x.txt", false},  // a text token is no folder
      {"<sys>\\x.dll", false},      // tokens are case-sensitive
      {"<SYS>\\<WIN>\\x", false},
      {"a>b.txt", false},
      {"CON", false},
      {"aux.txt", false},
      {"docs\\LPT1.log", false},
      {"COM10.txt", true},
      {"console.txt", true},
      {"name.", false},
      {"dir \\x", false},
      {"<SYS>\\name.", false},
      {"<SRC>nul", false},
      {"x\\~DAT1.", false},
  };
  for (const auto& c : cases) {
    const std::string why = CheckInstallName(c.name, kDefaultCodePage);
    EXPECT_EQ(c.ok, why.empty()) << c.name << ": " << why;
  }
}

TEST(ProjectFiles, ListTextsAreNormalised) {
  const struct {
    const char* title;
    std::string bytes;
    bool ok;
    std::string text;
    size_t notes;
  } cases[] = {
      {"LF lines, final LF dropped", "a\nb\n", true, "a\r\nb", 0},
      {"CR lines", "a\rb", true, "a\r\nb", 0},
      {"empty lines kept inside and at the end", "a\n\nb\n\n", true, "a\r\n\r\nb\r\n", 0},
      {"leading empty lines dropped", "\r\n\r\na", true, "a", 1},
      {"only empty lines", "\n\n\n", true, "", 0},
      {"code page bytes kept", "caf\xE9", true, "caf\xE9", 0},
      {"terminator line", "a\n\x03\x03\x03\nb", false, "", 1},
      {"other list's terminator is text", "\x01\x01\x01", true, "\x01\x01\x01", 0},
      {"NUL byte", std::string("a\0b", 3), false, "", 1},
  };
  for (const auto& c : cases) {
    std::string text;
    std::vector<std::string> notes;
    EXPECT_EQ(c.ok, ListTextFromFile(c.bytes, "\x03\x03\x03", text, notes)) << c.title;
    EXPECT_EQ(c.notes, notes.size()) << c.title;
    if (c.ok) {
      EXPECT_EQ(c.text, text) << c.title;
      SetupScript s;
      s.AppName = "x";
      s.LicenseText = text;
      EXPECT_TRUE(CheckSetupScript(s).empty()) << c.title << ": an accepted text must round-trip";
    }
  }
}

TEST(ProjectFiles, BitmapsAreRecognised) {
  cabtest::TempDir dir;
  const std::string good = packtest::SmallBitmap();
  std::string badInfo = good, badOffset = good;
  badInfo[14] = 41;
  badOffset[10] = char(200);
  const struct {
    const char* title;
    std::string bytes;
    bool ok;
  } cases[] = {
      {"bitmap", good, true},
      {"PNG", "\x89PNG\r\n\x1A\n" + std::string(60, '\0'), false},
      {"empty", "", false},
      {"only BM", "BM", false},
      {"unknown header size", badInfo, false},
      {"pixels past the end", badOffset, false},
  };
  for (const auto& c : cases) {
    cabtest::WriteFile(dir.File("p.bmp"), c.bytes);
    std::string why;
    EXPECT_EQ(c.ok, CheckBitmapFile(dir.File("p.bmp"), why)) << c.title << ": " << why;
  }
}

TEST(ProjectFiles, StoredNamesSortWithFoldersTogether) {
  std::vector<std::string> names = {"a-b", "a\\z", "a", "B", "a\\b\\c", "a.txt"};
  std::sort(names.begin(), names.end(), StoredNameLess);
  const std::vector<std::string> expected = {"B", "a", "a\\b\\c", "a\\z", "a-b", "a.txt"};
  EXPECT_EQ(expected, names);
}

// The README's example project, with the files it names, loads cleanly and
// means what the README says.
TEST(ProjectFile, TheReadmeExampleLoads) {
  const std::string readme = cabtest::ReadFile(std::string(VELTRA_TESTDATA) + "/../README.md");
  const size_t start = readme.find("```ini\n; Acme Tools"), end = readme.find("```\n", start + 7);
  ASSERT_NE(std::string::npos, start);
  ASSERT_NE(std::string::npos, end);
  ProjectDir dir;
  for (const char* folder : {"texts", "art", "build", "manual", "extras", "config", "dist"})
    dir.Mkdir(folder);
  for (const char* file :
       {"texts/readme.txt", "texts/license.txt", "build/acme.exe", "build/helper.dll", "manual/guide.txt",
        "extras/notes.txt", "config/acme.ini", "build/shared.dat", "build/license.rtf"})
    dir.Write(file, std::string("content of ") + file + "\n");
  dir.Write("texts/german.txt", WriteLangText(DefaultLangTable()));
  dir.Write("art/side.bmp", packtest::SmallBitmap());
  dir.Write("art/header.bmp", packtest::SmallBitmap());
  dir.Write("art/acme.ico", packtest::SmallIcon());
  const Loaded l = Load(dir, readme.substr(start + 7, end - start - 7));
  ASSERT_TRUE(l.ok) << l.AllErrors();
  EXPECT_TRUE(l.diagnostics.Warnings().empty());
  EXPECT_EQ("Acme Tools", l.project.script.AppName);
  EXPECT_EQ("/quiet \"<INSTALL>\"", l.project.script.RunParams);
  EXPECT_EQ(dir.File("dist/AcmeSetup.exe"), l.project.output);
  EXPECT_TRUE(l.project.password.empty());
  EXPECT_EQ(dir.File("art/acme.ico"), l.project.brand.icon);
  EXPECT_EQ("3.1.0.42", l.project.brand.fileVersion);
  EXPECT_EQ("requireAdministrator", l.project.brand.executionLevel);
  std::vector<std::string> names;
  for (const PayloadFile& f : l.project.files) names.push_back(f.storedName);
  const std::vector<std::string> expected = {"<PROGRAM FILES>\\<APPNAME>\\shared.dat",
                                             "<SYS>\\acme.ini",
                                             "acme.exe",
                                             "bin\\helper.dll",
                                             "docs\\guide.txt",
                                             "license.rtf",
                                             "notes.txt"};
  EXPECT_EQ(expected, names);
}
