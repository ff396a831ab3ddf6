// A gate that the extraction worker passes between its steps (before each
// write and each notification), so that the wizard can hold extraction while
// it asks whether to leave. The worker is never stopped at an arbitrary point:
// it parks only here, where it holds no lock that the main thread might need.
#pragma once
#include <windows.h>

// Worker side: returns at once while the gate is open; otherwise waits until
// it opens again. The thread that closed the gate is never held by it.
void PassPauseGate();

// Main-thread side.
void ClosePauseGate();
void OpenPauseGate();
// Waits until a thread is parked at the closed gate or `worker` has ended,
// at most `timeoutMs` (INFINITE: without limit), while handling the messages
// of this thread's windows (the worker may be sending one to the progress
// page just then). True when the worker is parked or gone.
bool WaitWorkerAtGate(HANDLE worker, DWORD timeoutMs);
