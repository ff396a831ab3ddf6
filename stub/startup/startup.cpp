#include "startup.h"

#include <windows.h>
#include <commctrl.h>

#include "cabcontext.h"
#include "exitsetup.h"
#include "extractionui.h"
#include "faultguard.h"
#include "fileops.h"
#include "fixedtexts.h"
#include "folderpath.h"
#include "infocabinet.h"
#include "librarysearch.h"
#include "launch.h"
#include "packagefile.h"
#include "pathops.h"
#include "placeholders.h"
#include "prompts.h"
#include "provision.h"
#include "resource.h"
#include "setupparams.h"
#include "setuplog.h"
#include "setupscript_reader.h"
#include "switches.h"
#include "wizard.h"
#include "worker.h"

namespace {

// A picture from the information cabinet; none when absent or unreadable.
// The file goes as soon as it has been read.
HBITMAP LoadPicture(const std::string& path) {
  if (!FileExists(path)) return nullptr;
  const HANDLE image =
      LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
  DeleteFileA(path.c_str());
  return static_cast<HBITMAP>(image);
}

const char kUsage[] =
    "Setup.exe [/quiet | /passive] [/D=folder] [/extract=folder] [/log=file] [/password-file=file] "
    "[/?]\r\n\r\n"
    "/quiet, /q\tno window at all; the outcome is in the exit code\r\n"
    "/passive\tonly the progress, which Cancel can stop; nothing asked, no box\r\n"
    "/D=folder\tinstall into this folder instead of the package's\r\n"
    "/extract=folder\tonly place the files in this folder, run nothing\r\n"
    "/log=file\tadd every step, file, failure and the exit code to this file\r\n"
    "/password-file=file\ta protected package's password: the file's first line\r\n"
    "/?\t\tshow this text\r\n\r\n"
    "A folder is a full path: X:\\... or \\\\server\\share\\...";

// Boxes shown before the language text is loaded carry fixed English texts.
// A quiet or passive run shows none: the exit code says what happened.
[[noreturn]] void FailEarly(const char* text) {
  LogLine(std::string("Failure: ") + text);
  if (!ShowsNoBoxes()) {
    MessageBoxA(SetupParams.MainWindow, text, kFixedCaption, MB_OK | MB_ICONEXCLAMATION);
  }
  CloseOwnFile();
  ExitSetup(kExitFailed);
}

// A system folder with a trailing backslash, read whole however long it is:
// a cut text would name another folder.
std::string SystemFolder(SizedTextReader read) {
  const std::string folder = ReadSizedText(read);
  return folder.empty() ? folder : AddTrailingBackslash(folder);
}

// The first line of the password file; false when it cannot be read.
bool ReadPasswordFile(const std::string& path, std::string& password) {
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(path, bytes)) return false;
  password.clear();
  for (const uint8_t byte : bytes) {
    if (byte == '\r' || byte == '\n') break;
    password += static_cast<char>(byte);
  }
  return true;
}

uint32_t ReadTempPath(char* buffer, uint32_t size) { return GetTempPathA(size, buffer); }
uint32_t ReadSystemDirectory(char* buffer, uint32_t size) { return GetSystemDirectoryA(buffer, size); }
uint32_t ReadWindowsDirectory(char* buffer, uint32_t size) { return GetWindowsDirectoryA(buffer, size); }

// The usage box, unless the run shows no boxes, then the end with `code`.
[[noreturn]] void ExitWithUsage(ExitCode code) {
  if (!ShowsNoBoxes()) MessageBoxA(nullptr, kUsage, kFixedCaption, MB_OK | MB_ICONINFORMATION);
  ExitSetup(code);
}

// A folder from the command line passes the same test as the script's
// destination in an unattended run, before anything is written.
bool IsAcceptedFolder(const std::string& folder) {
  return folder.empty() || IsFullFolderPath(AddTrailingBackslash(folder));
}

}  // namespace

void ReadCommandLine() {
  ParseSwitches(GetCommandLineA());
  const SwitchesRecord& switches = SetupParams.Switches;
  if (switches.Unknown) ExitWithUsage(kExitBadSwitch);
  if (switches.ShowUsage) ExitWithUsage(kExitDone);
  if (!switches.LogFile.empty() && !OpenSetupLog(switches.LogFile)) ExitWithUsage(kExitFailed);
  LogLine(std::string("Command line: ") + GetCommandLineA());
  if (!IsAcceptedFolder(switches.Destination) || !IsAcceptedFolder(switches.ExtractOnly)) {
    LogLine("Failure: a folder on the command line is not a full path");
    ExitWithUsage(kExitFailed);
  }
  // Set before the script is read, so that the failures on the way there
  // show no box either.
  if (ShowsNoBoxes()) SetupParams.Unattended = true;
}

void InitRunState() {
  SetupParams.MainWindow = nullptr;
  SetupParams.WorkerRunning = false;
  InitCommonControls();
  // The information cabinet is extracted before the setup script can say
  // that the run is unattended; a quiet or passive run asks no one from the
  // start.
  if (SetupParams.Switches.Quiet) {
    ExtractionUi = {};
  } else if (SetupParams.Switches.Passive) {
    UseProgressOnlyForExtraction();
  } else {
    UseWizardForExtraction();
  }
}

void LearnFolders() {
  SetupParams.SourceDir = AddTrailingBackslash(DirectoryPart(OwnExecutablePath()));
  SetupParams.TempDir = SystemFolder(ReadTempPath);
  SetupParams.SystemDir = SystemFolder(ReadSystemDirectory);
  SetupParams.WindowsDir = SystemFolder(ReadWindowsDirectory);
}

void CheckPackage() {
  if (!ReadPackageHeader()) FailEarly(kTextNoPackageData);
  LogNumber("Package found at byte ", static_cast<unsigned long>(PackageBase()));
}

void MakeWorkDir() {
  // Without a temporary folder (one too long to be read, for instance) the
  // candidates would be relative names, made in whatever the current folder is.
  if (!SetupParams.TempDir.empty()) SetupParams.WorkDir = CreateUniqueFolder(SetupParams.TempDir, "VELTRA");
  // Without a private folder the temporary files would land in the current
  // folder and never be removed, so the run stops here.
  if (SetupParams.WorkDir.empty()) FailEarly(kTextNoTempFolder);
  LogLine("Private folder made: " + SetupParams.WorkDir);
}

void LoadLanguageText() {
  const std::string path = SetupParams.WorkDir + "~LNG1.$$$";
  const PackageBlocks blocks = ComputePackageBlocks(PackageBase(), SetupParams.Header);
  const bool loaded = CopyPackageBlock(blocks.LangText, SetupParams.Header.LangTextSize, path) &&
                      LoadLangTable(path, Lang, &SetupParams.PackageCodePage);
  DeleteFileA(path.c_str());
  if (!loaded) FailEarly(kTextNoLanguage);
  LogLine("Language text loaded");
}

// A package records its code page only when it holds characters beyond
// ASCII; the system shows its texts and names its files in its own ANSI code
// page, so on another one they would come out as other characters. A person
// may go on; a run without windows stops, since nobody would see the texts
// and the files would get names nobody chose.
void CheckCodePage() {
  const int system = static_cast<int>(GetACP());
  const int package = SetupParams.PackageCodePage;
  if (package == 0 || package == system) return;
  const std::string text = kTextCodePageMismatch1 + Int64ToText(package) + kTextCodePageMismatch2 +
                           Int64ToText(system) + kTextCodePageMismatch3;
  LogLine("Code page: the package's is " + Int64ToText(package) + ", the system's " + Int64ToText(system));
  // Quiet and passive runs are unattended by now (ApplySwitches).
  if (!SetupParams.Unattended && MessageBoxA(nullptr, (text + kTextCodePageGoOn).c_str(), kFixedCaption,
                                             MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2) == IDOK)
    return;
  LogLine("Stopped: " + text);
  CloseOwnFile();
  ExitSetup(kExitStopped);
}

void PrepareInfoCabinet() {
  const PackageBlocks blocks = ComputePackageBlocks(PackageBase(), SetupParams.Header);
  SetupParams.CabinetOffset = blocks.InfoCab;
  SetupParams.ExtractDir = SetupParams.WorkDir;
  SetupParams.CabinetScrambled = true;
  SetupParams.ScrambleKey = kScramblePrefix;
  if (SetupParams.Header.PasswordProtected == 0) return;
  const std::string& passwordFile = SetupParams.Switches.PasswordFile;
  if (!passwordFile.empty()) {
    std::string password;
    if (!ReadPasswordFile(passwordFile, password)) {
      LogLine("Failure: the password file could not be read: " + passwordFile);
      ExitSetup(kExitFailed);
    }
    SetupParams.ScrambleKey += password;
    return;
  }
  // A run without questions cannot ask, and the information cabinet would not open.
  if (ShowsNoBoxes()) {
    LogLine("Failure: the package has a password, and a quiet or passive run cannot ask for it");
    ExitSetup(kExitStopped);
  }
  SetupParams.ScrambleKey += AskPassword();
}

// An information cabinet that does not descramble into a cabinet means a
// wrong password or a damaged package.
void ReportWrongPassword() {
  LogLine("Failure: the information cabinet was not recognised (wrong password or damaged package)");
  if (ShowsNoBoxes()) return;
  MessageBoxA(SetupParams.MainWindow, Message(kMsgWrongPassword).c_str(), Message(kMsgErrorTitle).c_str(),
              MB_OK | MB_ICONHAND);
}

void ExtractInfoCabinet() {
  ExtractPackageCabinet({ReportWrongPassword, "", true});
  LogLine("Information cabinet read");
}

void LoadPictures() {
  SetupParams.SideBitmap = LoadPicture(SetupParams.WorkDir + kSidePictureName);
  SetupParams.HeaderBitmap = LoadPicture(SetupParams.WorkDir + kHeaderPictureName);
}

void ReadScript() {
  const std::string path = SetupParams.WorkDir + kSetupScriptName;
  const bool read = ReadSetupScript(path);
  DeleteFileA(path.c_str());
  if (!read) {
    LogLine("Failure: the setup script could not be read");
    if (!ShowsNoBoxes()) MessageBoxA(SetupParams.MainWindow, kTextCannotReadInfo, "", MB_OK);
    ExitSetup(kExitBadScript);
  }
}

void ApplySwitches() {
  const SwitchesRecord& switches = SetupParams.Switches;
  if (!switches.Destination.empty()) SetupParams.DestDir = switches.Destination;
  if (ShowsNoBoxes()) SetupParams.Unattended = true;
  if (switches.ExtractOnly.empty()) return;
  // The files alone: no question before, no program, no message after.
  SetupParams.DestDir = switches.ExtractOnly;
  SetupParams.Unattended = true;
  SetupParams.StartQuestion.clear();
  SetupParams.RunProgram.clear();
  SetupParams.FinalMessage.clear();
}

void LogRunMode() {
  const SwitchesRecord& switches = SetupParams.Switches;
  const char* mode = switches.Quiet           ? "quiet"
                     : switches.Passive       ? "passive"
                     : SetupParams.Unattended ? "unattended"
                                              : "wizard";
  LogLine(std::string("Run mode: ") + mode + (switches.ExtractOnly.empty() ? "" : ", files only"));
}

void ExpandCaption() { Lang[kMsgSetupTitle] = ExpandPlaceholders(Lang[kMsgSetupTitle], false); }

void AskStartQuestion() {
  // Starting a quiet or passive run is the administrator's answer.
  if (SetupParams.StartQuestion.empty() || ShowsNoBoxes()) return;
  const std::string question = ExpandPlaceholders(SetupParams.StartQuestion, true);
  if (MessageBoxA(SetupParams.MainWindow, question.c_str(), Message(kMsgSetupTitle).c_str(),
                  MB_OKCANCEL | MB_ICONQUESTION) == IDCANCEL) {
    ExitSetup(kExitStopped);
  }
}

void RunUnattended() {
  const PackageBlocks blocks = ComputePackageBlocks(PackageBase(), SetupParams.Header);
  SetupParams.CabinetOffset = blocks.Payload;
  SetupParams.CabinetScrambled = SetupParams.Header.PasswordProtected != 0;
  SetupParams.ExtractDir = AddTrailingBackslash(ExpandPlaceholders(SetupParams.DestDir, false));
  // Nobody sees where a relative destination would land.
  if (!IsFullFolderPath(SetupParams.ExtractDir)) {
    LogLine("Failure: the destination is not a full path: " + SetupParams.ExtractDir);
    ExitSetup(kExitFailed);
  }
  LogLine("Extracting into " + SetupParams.ExtractDir);
  if (SetupParams.Switches.Passive) RunProgressOnly();
  ExtractionUi = {};  // no one to ask: the answers that extractionui.h gives
  if (!StartExtractionWorker()) {
    ShowSetupError(kTextCannotPrepare);
    ExitSetup(kExitFailed);
  }
  // The worker ends the process itself on every failure; when it returns,
  // the run is done. This thread may have owned the password prompt or the
  // start-up question, so it keeps answering what is sent to it meanwhile.
  AwaitWithMessages(SetupParams.WorkerThread);
  if (!SetupParams.FinalMessage.empty() && !ShowsNoBoxes()) {
    MessageBoxA(nullptr, ExpandPlaceholders(SetupParams.FinalMessage, true).c_str(),
                Message(kMsgSetupTitle).c_str(), MB_OK | MB_ICONINFORMATION);
  }
  ExitFinishedRun();
}

void RunProgressOnly() {
  SetupParams.WizardPage = kProgressPage;
  SetupParams.RemoveAfter = false;  // the files stay where the run put them
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_FRAME), nullptr, WizardFrameProc, 0);
  // The frame ends the process itself once extraction is over or Cancel
  // is confirmed; coming back here means it could not be shown.
  LogLine("Failure: the progress window could not be shown");
  ExitSetup(kExitFailed);
}

void RunWizard() {
  SetupParams.WizardPage = 1;
  SetupParams.ExtractDir = ExpandPlaceholders(SetupParams.DestDir, false);
  // -1: the frame could not be made at all, which nobody may read as an
  // install that went well.
  if (DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_FRAME), nullptr, WizardFrameProc, 0) ==
      -1) {
    LogLine("Failure: the wizard could not be shown");
    ExitSetup(kExitFailed);
  }
  ExitSetup(kExitDone);
}

namespace {
bool SystemLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }
}  // namespace

void RunSetup() {
  // Paths are in the system's code page; in a two-byte one a character's
  // second byte may look like a backslash.
  PathLeadByte = SystemLeadByte;
  // First, before anything loads a library by name. Where the system lacks
  // the limit the run goes on: the stub loads its own libraries by full path,
  // and by name only system libraries that its imports have loaded already.
  LimitLibrarySearchToSystem();
  InstallFaultGuard();
  ReadCommandLine();
  InitRunState();
  LearnFolders();
  CheckPackage();
  MakeWorkDir();
  LoadLanguageText();
  ProvideCabinetLibrary();
  PrepareInfoCabinet();
  ExtractInfoCabinet();
  LoadPictures();
  ReadScript();
  ApplySwitches();
  LogRunMode();
  CheckCodePage();
  ExpandCaption();
  AskStartQuestion();
  if (SetupParams.Unattended) RunUnattended();
  RunWizard();
}
