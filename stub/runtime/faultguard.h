// The last resort of a run: a fault that nothing else handles (an access
// violation or illegal instruction in the stub, in the cabinet library or in
// a runtime, on any thread) still ends through the exit procedure's clean-up,
// with a message and exit code 1, never in the system's crash dialog.
#pragma once

// Installed first thing in the run; covers every thread made afterwards.
void InstallFaultGuard();

// Reports the fault, removes the private folder and ends the process with
// exit code 1. Also the end of the runtime's fatal paths (lean_runtime.cpp).
[[noreturn]] void EndRunOnFault();
