#include "worker.h"

#include "cabcontext.h"
#include "cabnotify.h"
#include "exitsetup.h"
#include "extractionui.h"
#include "fixedtexts.h"
#include "integritycheck.h"
#include "launch.h"
#include "placeholders.h"
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

}  // namespace

DWORD WINAPI ExtractionWorker(LPVOID) {
  SetupParams.WorkerRunning = true;
  if (ExtractionUi.BeginProgress) ExtractionUi.BeginProgress(SetupParams.MinFree);
  BytesDone = 0;
  ExtractPayload();
  ShowWindow(SetupParams.MainWindow, SW_HIDE);
  SetupParams.RunProgram = ExpandPlaceholders(SetupParams.RunProgram, false);
  SetupParams.RunParams = ExpandPlaceholders(SetupParams.RunParams, false);
  ExecuteFile(SetupParams.RunProgram, SetupParams.RunParams, SetupParams.WindowsDir, true);
  // The frame's completion page may start files from the temporary unpack
  // folder; it removes the folder itself once it is done with it.
  if (SetupParams.RemoveAfter && !SetupParams.MainWindow) RemoveUnpackDir();
  SetupParams.WorkerRunning = false;
  if (SetupParams.MainWindow) PostMessageA(SetupParams.MainWindow, WM_EXTRACTIONDONE, 0, 0);
  return 0;
}

bool StartExtractionWorker() {
  SetupParams.WorkerThread =
      CreateThread(nullptr, 0, ExtractionWorker, nullptr, 0, &SetupParams.WorkerThreadId);
  return SetupParams.WorkerThread != nullptr;
}
