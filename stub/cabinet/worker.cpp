#include "worker.h"

#include "cabcontext.h"
#include "cabnotify.h"
#include "exitsetup.h"
#include "extractionui.h"
#include "fixedtexts.h"
#include "integritycheck.h"
#include "launch.h"
#include "placeholders.h"
#include "setuplog.h"
#include "setupparams.h"
#include "streamio.h"

namespace {

void ReportPayloadNotACabinet() { ShowSetupError(Message(kMsgCabCorrupt)); }

// The context stays until the process ends: the main thread may suspend and
// end this thread at any point after the extraction.
void ExtractPayload() {
  CheckFreeSpace();
  CheckPackageIntegrity();
  ExtractPackageCabinet({ReportPayloadNotACabinet, kTextCannotReadSelf, false});
}

// Runs RunProgram to its end and keeps its exit code for the end of the run.
// One that cannot be started ends the run here: reported as what it is,
// not as an install that went well. Its unpacked files go all the same,
// since nothing runs from them and Setup.exe still holds them all.
void RunPackageProgram() {
  SetupParams.RunProgram = ExpandPlaceholders(SetupParams.RunProgram, false);
  SetupParams.RunParams = ExpandPlaceholders(SetupParams.RunParams, false);
  if (SetupParams.RunProgram.empty()) return;
  LogLine("Running: " + SetupParams.RunProgram + " " + SetupParams.RunParams);
  const FileRun run =
      ExecuteFile(SetupParams.RunProgram, SetupParams.RunParams, SetupParams.WindowsDir, true);
  if (!run.Started) {
    // The name is needed no more but in the message.
    ShowSetupError(SetupParams.RunProgram.insert(0, kTextCannotStart));
    RemoveUnpackDir();  // made only with RemoveAfter
    ExitSetup(kExitNotStarted);
  }
  SetupParams.ProgramExitCode = run.ExitCode;
  LogNumber("The program ended with ", run.ExitCode);
  // A file the shell handed on without a process may still be opening: its
  // unpacked files stay rather than go from under it.
  if (!run.Ended) SetupParams.RemoveAfter = false;
}

}  // namespace

DWORD WINAPI ExtractionWorker(LPVOID) {
  SetupParams.WorkerRunning = true;
  if (ExtractionUi.BeginProgress) ExtractionUi.BeginProgress(SetupParams.MinFree);
  BytesDone = 0;
  ExtractPayload();
  ShowWindow(SetupParams.MainWindow, SW_HIDE);
  RunPackageProgram();
  // The frame's completion page may start files from the temporary unpack
  // folder; it removes the folder itself once it is done with it.
  if (SetupParams.RemoveAfter && !SetupParams.MainWindow) RemoveUnpackDir();
  SetupParams.WorkerRunning = false;
  if (SetupParams.MainWindow) PostMessageA(SetupParams.MainWindow, WM_EXTRACTIONDONE, 0, 0);
  return 0;
}

void ExitFinishedRun() { ExitSetup(static_cast<ExitCode>(SetupParams.ProgramExitCode)); }

bool StartExtractionWorker() {
  SetupParams.WorkerThread =
      CreateThread(nullptr, 0, ExtractionWorker, nullptr, 0, &SetupParams.WorkerThreadId);
  return SetupParams.WorkerThread != nullptr;
}
