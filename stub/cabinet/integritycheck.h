// What the stub checks of the files it reads and writes during extraction:
// the integrity record (core's integrity.h) when the information cabinet
// brought one, and the file that FDI is writing now, so that a run that
// ends half-way leaves no half-written file behind. That file is written
// under a partial name beside its final one and moved into place only once
// it is complete and checked.
//
// Without a record (a package made before it existed, or one of a newer
// version) nothing is checked against it. Every mismatch ends the run as a
// damaged package: ShowSetupError with the file's (final) path and message
// 64, exit code 1, the partial file removed.
#pragma once
#include <cstdint>
#include <string>

#include "exitsetup.h"

// Reads and removes the record that the information cabinet left in
// WorkDir; then checks the header and the blocks of the package file before
// anything is written to the destination.
void CheckPackageIntegrity();

// A follow-up volume at `path`, named `name` by the volume before it.
void CheckVolumeIntegrity(const std::string& path, const std::string& name);

// A file that FDI announces with its stored name and size: refused when
// the record lists files and none by that name and size, or when the file
// before it was closed short.
void CheckAnnouncedFile(const std::string& storedName, uint32_t size);
// After a run that FDI reported as done: the last file was not closed short.
void CheckNothingHalfWritten();

// The file FDI is writing, announced with `size` bytes, bound for
// `finalPath` and written at `partialPath`: `handle` as the create callback
// returned it (0 or -1 when none was created), returned unchanged.
intptr_t BeginTarget(const std::string& storedName, uint32_t size, const std::string& finalPath,
                     const std::string& partialPath, intptr_t handle);
void NoteTargetWrite(intptr_t handle, const void* data, unsigned int count);
// FDI closed the handle itself: it gave up on the file.
void NoteTargetClosed(intptr_t handle);
// The handler closed the file: true when it is complete and its content
// checked, and may be moved into place; false while it is short, when it
// stays partial until FDI reports the failure.
bool FinishTarget();
// The partial file is moved into place, or dropped by the caller.
void ForgetTarget();
// Closes and deletes the partial file, if one is being written.
void AbandonTarget();

// Removes a file left half-written, shows `text` through ShowSetupError
// unless it is empty, and ends the run with `code`.
[[noreturn]] void FailExtraction(const std::string& text, ExitCode code);
