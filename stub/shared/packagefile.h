// Reading the package out of the stub's own executable file.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// The offset of the package in this executable, as the builder stored it.
int32_t PackageBase();

// Opens the own file into SetupParams.OwnFile and reads the header at
// PackageBase; true when the magic matches. The header stays all zero when
// the file cannot be read.
bool ReadPackageHeader();
void CloseOwnFile();

// Copies `length` bytes at `offset` of the own file into a new file `path`
// (created or truncated); false when any step fails.
bool CopyPackageBlock(int64_t offset, int32_t length, const std::string& path);

// The path of the running executable.
std::string OwnExecutablePath();
