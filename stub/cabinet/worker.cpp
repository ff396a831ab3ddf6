#include "worker.h"

#include <commctrl.h>

#include "cabcontext.h"
#include "exitsetup.h"
#include "fixedtexts.h"
#include "integritycheck.h"
#include "launch.h"
#include "placeholders.h"
#include "prompts.h"
#include "resource.h"
#include "setupparams.h"
#include "streamio.h"

namespace {

const int64_t kProgressRangeMax = 32767;

// Waits for the progress page without burning a processor, then sets the
// bar's range: 0..32767 scaled for large installations, unscaled otherwise.
void SetUpProgressBar() {
  while (!PageWindow) Sleep(10);
  const int64_t total = SetupParams.MinFree;
  if (total > kProgressRangeMax) {
    ProgressScale = static_cast<float>(static_cast<long double>(kProgressRangeMax) / total);
    SendDlgItemMessageA(PageWindow, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELONG(0, kProgressRangeMax));
  } else {
    ProgressScale = -1.0f;
    SendDlgItemMessageA(PageWindow, IDC_PROGRESS_BAR, PBM_SETRANGE, 0,
                        MAKELONG(0, static_cast<uint16_t>(total)));
  }
}

void ReportPayloadNotACabinet() { ShowSetupError(Message(kMsgCabCorrupt)); }

// The context stays until the process ends: the main thread may suspend and
// end this thread at any point after the extraction.
void ExtractPayload() {
  CheckPackageIntegrity();
  ExtractPackageCabinet({ReportPayloadNotACabinet, kTextCannotReadSelf, false});
}

}  // namespace

DWORD WINAPI ExtractionWorker(LPVOID) {
  SetupParams.WorkerRunning = true;
  if (PageWindow) SetItemText(PageWindow, IDC_LINE2, Message(kMsgOneMoment));
  if (!SetupParams.Unattended) SetUpProgressBar();
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
