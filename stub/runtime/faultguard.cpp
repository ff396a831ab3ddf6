#include "faultguard.h"

#include <windows.h>

#include "exitsetup.h"
#include "fixedtexts.h"
#include "pausegate.h"
#include "setupparams.h"

namespace {

// The thread that is ending the run after a fault; 0 while there is none.
volatile LONG FaultingThread = 0;

// Shown before the language text is loaded; afterwards its row of the table
// (kMsgCabUnknownError) is: the run failed for a reason the stub cannot name.

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS*) { EndRunOnFault(); }

}  // namespace

void InstallFaultGuard() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(OnUnhandledException);
}

void EndRunOnFault() {
  const LONG self = static_cast<LONG>(GetCurrentThreadId());
  const LONG first = InterlockedCompareExchange(&FaultingThread, self, 0);
  // A fault during this clean-up ends the process at once; a fault on
  // another thread meanwhile waits for this one to end the process.
  if (first == self) TerminateProcess(GetCurrentProcess(), kExitFailed);
  if (first != 0) Sleep(INFINITE);
  // The worker, if any, stops at its next step instead of writing on while
  // the message is shown.
  ClosePauseGate();
  if (!Message(kMsgCabUnknownError).empty()) {
    ShowSetupError(Message(kMsgCabUnknownError));
  } else if (!ShowsNoBoxes()) {
    MessageBoxA(SetupParams.MainWindow, kTextUnknownError, kFixedCaption, MB_OK | MB_ICONHAND);
  }
  ReleaseRun();
  // Not through the runtime's exit: the fault may have left its locks or
  // the heap in any state.
  TerminateProcess(GetCurrentProcess(), kExitFailed);
  for (;;) Sleep(INFINITE);
}
