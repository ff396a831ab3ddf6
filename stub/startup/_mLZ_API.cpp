#include "_mLZ_API.h"

#include <windows.h>

#include <vector>

#include "fileops.h"
#include "setupparams.h"
#include "szdd.h"

namespace {

using LzOpenFileA = INT(WINAPI*)(LPSTR, LPOFSTRUCT, WORD);
using LzCopy = LONG(WINAPI*)(INT, INT);
using LzClose = VOID(WINAPI*)(INT);

// The LZ library comes from the system folder only: a copy planted beside a
// downloaded Setup.exe must never be loaded.
bool ExpandWithSystemLz(const std::string& source, const std::string& target) {
  const HMODULE lz = LoadLibraryA((SetupParams.SystemDir + "lz32.dll").c_str());
  if (!lz) return false;
  const auto open = reinterpret_cast<LzOpenFileA>(GetProcAddress(lz, "LZOpenFileA"));
  const auto copy = reinterpret_cast<LzCopy>(GetProcAddress(lz, "LZCopy"));
  const auto close = reinterpret_cast<LzClose>(GetProcAddress(lz, "LZClose"));
  if (open && copy && close) {
    OFSTRUCT sourceInfo = {};
    OFSTRUCT targetInfo = {};
    std::string sourcePath = source;
    std::string targetPath = target;
    const INT in = open(&sourcePath[0], &sourceInfo, OF_READ);
    const INT out = open(&targetPath[0], &targetInfo, OF_CREATE);
    if (in >= 0 && out >= 0) copy(in, out);
    if (in >= 0) close(in);
    if (out >= 0) close(out);
  }
  FreeLibrary(lz);
  return open && copy && close;
}

// What LZCopy writes: the expanded bytes, or the file unchanged when it is
// not SZDD data.
void ExpandWithOwnCode(const std::string& source, const std::string& target) {
  std::vector<uint8_t> packed;
  if (!ReadFileBytes(source, packed)) return;
  std::vector<uint8_t> plain;
  SzddHeader header;
  if (!ReadSzddHeader(packed.data(), packed.size(), header)) {
    plain = packed;
  } else if (SzddExpand(packed.data(), packed.size(), plain) != SzddStatus::Ok) {
    return;
  }
  const HANDLE out =
      CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(out, plain.data(), static_cast<DWORD>(plain.size()), &written, nullptr);
  CloseHandle(out);
}

}  // namespace

bool ExpandLzFile(const std::string& source, const std::string& target) {
  if (!ExpandWithSystemLz(source, target)) ExpandWithOwnCode(source, target);
  return FileExists(target);
}
