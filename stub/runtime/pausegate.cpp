#include "pausegate.h"

#include <atomic>

namespace {

// Whether the gate is closed, read without a system call: the worker passes
// the gate before every write, and asking the event each time costs a call
// into the kernel (under Wine, a round trip to its server).
std::atomic<bool> GateClosed{false};

// Manual-reset events, made before any thread exists: Open is signalled while
// the worker may go on, Parked while a thread waits at the closed gate.
const HANDLE GateOpen = CreateEventA(nullptr, TRUE, TRUE, nullptr);
const HANDLE GateParked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
volatile DWORD ClosingThread = 0;

}  // namespace

void PassPauseGate() {
  if (!GateClosed.load()) return;
  if (!GateOpen || WaitForSingleObject(GateOpen, 0) == WAIT_OBJECT_0) return;
  if (GetCurrentThreadId() == ClosingThread) return;
  SetEvent(GateParked);
  WaitForSingleObject(GateOpen, INFINITE);
  ResetEvent(GateParked);
}

void ClosePauseGate() {
  ClosingThread = GetCurrentThreadId();
  // A mark left from an earlier pause must not pass for a parked worker.
  ResetEvent(GateParked);
  ResetEvent(GateOpen);
  GateClosed.store(true);
}

void OpenPauseGate() {
  GateClosed.store(false);
  SetEvent(GateOpen);
  ClosingThread = 0;
}

bool WaitWorkerAtGate(HANDLE worker, DWORD timeoutMs) {
  const HANDLE waits[2] = {GateParked, worker};
  const DWORD count = worker ? 2 : 1;
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    if (timeoutMs != INFINITE && elapsed >= timeoutMs) return false;
    const DWORD left = timeoutMs == INFINITE ? INFINITE : timeoutMs - elapsed;
    const DWORD result = MsgWaitForMultipleObjects(count, waits, FALSE, left, QS_ALLINPUT);
    if (result < WAIT_OBJECT_0 + count) return true;
    if (result != WAIT_OBJECT_0 + count) return false;
    // Sent messages are handled inside PeekMessage; posted ones keep this
    // thread's windows painted while the worker takes its time.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}
