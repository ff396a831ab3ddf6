// The extraction worker: extracts the payload into ExtractDir, runs the
// package's program and waits for it, and removes the unpacked files when
// asked. It ends its own thread when the run is done; the thread that waits
// for it finishes the run with ExitFinishedRun. A program that cannot be
// started ends the run on the worker (kExitNotStarted).
#pragma once
#include <windows.h>

// Posted to MainWindow when the worker has finished in wizard mode, so that
// the frame can finish the run.
constexpr UINT WM_EXTRACTIONDONE = WM_APP + 2;

DWORD WINAPI ExtractionWorker(LPVOID unused);

// Starts the worker thread into WorkerThread / WorkerThreadId.
bool StartExtractionWorker();

// Ends a run whose worker has finished: with the exit code of the program it
// ran and waited for, kExitDone when there was none.
[[noreturn]] void ExitFinishedRun();
