// The one process-wide record of setup parameters and run state. The main
// thread fills it during start-up; later the wizard and the extraction worker
// read and write it without locks (two threads at most, never in the same
// field at the same time). Folder fields end in a backslash; the empty text
// means "no folder".
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "fdi_interface.h"
#include "package.h"
#include "setupscript.h"
#include "uTrans.h"

// What the administrator's switches on the command line asked for; all off
// without any.
struct SwitchesRecord {
  bool Quiet = false;        // /quiet, /q: no window at all
  bool Passive = false;      // /passive: the progress alone, nothing asked, no box
  bool ShowUsage = false;    // /?
  bool Unknown = false;      // a switch that is none of these, or a folder switch without its folder
  std::string Destination;   // /D=folder
  std::string ExtractOnly;   // /extract=folder: the files only, nothing run
  std::string LogFile;       // /log=file
  std::string PasswordFile;  // /password-file=file: the password of a protected package
};

// The setup script's fields (AppName ... LicenseText) come from core's
// SetupScript, which the start-up fills in one piece.
struct SetupParamsRecord : SetupScript {
  SetupParamsRecord() { AppName = "???"; }

  // Start-up.
  SwitchesRecord Switches;
  HWND MainWindow = nullptr;  // owner of message boxes once the wizard exists
  volatile bool WorkerRunning = false;
  std::string SourceDir;  // folder of the stub's own file
  std::string TempDir;
  std::string SystemDir;
  std::string WindowsDir;
  PackageHeader Header{};
  HANDLE OwnFile = INVALID_HANDLE_VALUE;  // the stub's file while start-up reads it
  std::string WorkDir;                    // the private temporary folder
  HMODULE CabinetLib = nullptr;
  PFNFDICREATE FdiCreate = nullptr;
  PFNFDIISCABINET FdiIsCabinet = nullptr;
  PFNFDICOPY FdiCopy = nullptr;
  PFNFDIDESTROY FdiDestroy = nullptr;
  int64_t CabinetOffset = 0;  // where the presented cabinet starts in the own file
  std::string ExtractDir;     // where FDI writes extracted files
  bool CabinetScrambled = false;
  std::string ScrambleKey;
  HBITMAP SideBitmap = nullptr;
  HBITMAP HeaderBitmap = nullptr;
  HANDLE WorkerThread = nullptr;
  DWORD WorkerThreadId = 0;
  int WizardPage = 0;

  // Wizard and worker.
  int PackageCodePage = 0;  // the ANSI code page the package's names and texts are in; 0: not recorded
  bool RemoveAfter = true;  // remove the unpacked files after the run
  std::string UnpackDir;    // temporary unpack folder when RemoveAfter is chosen
  // RunProgram's exit code, once it has been waited for to its end.
  DWORD ProgramExitCode = 0;
  HFONT DialogFont = nullptr;
  HFONT TitleFont = nullptr;

  // --- Wizard pages and prompts (stub/wizard/) ---
  HMODULE ShellModule = nullptr;  // shell32.dll, source of the progress animation
  std::string EnteredPassword;    // what the password prompt was given
  std::string OverwriteFileName;  // the existing file the overwrite prompt names
  bool OverwriteAnswer = false;   // the overwrite prompt's answer: replace the file
  // --- end of the wizard's fields ---
};

// Both live on the heap and are never destroyed: ExitSetup may end the process
// from the worker thread while the main thread still reads them.
extern SetupParamsRecord& SetupParams;

// Quiet and passive runs show no box: nobody may be there to press it, and
// a deployment script would wait on it for ever.
inline bool ShowsNoBoxes() { return SetupParams.Switches.Quiet || SetupParams.Switches.Passive; }

// The messages of the package's language text.
extern LangTable& Lang;
inline const std::string& Message(LangMessage message) { return Lang[message]; }
