#include "packagefile.h"

#include <cstring>
#include <vector>

#include "packagebase.h"
#include "setupparams.h"

// The builder finds this record by its tag and writes the package offset into
// it; volatile keeps the compiler from folding the stored 0 into the code.
extern "C"
    __attribute__((used)) volatile const PackageBaseRecord StubPackageBase = {VELTRA_PACKAGE_BASE_TAG, 0};

int32_t PackageBase() { return StubPackageBase.Value; }

std::string OwnExecutablePath() {
  char path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

namespace {

bool SeekOwnFile(int64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = offset;
  return offset >= 0 && SetFilePointerEx(SetupParams.OwnFile, to, nullptr, FILE_BEGIN);
}

bool ReadExactly(void* buffer, DWORD length) {
  DWORD read = 0;
  return ReadFile(SetupParams.OwnFile, buffer, length, &read, nullptr) && read == length;
}

}  // namespace

bool ReadPackageHeader() {
  std::memset(&SetupParams.Header, 0, sizeof SetupParams.Header);
  SetupParams.OwnFile = CreateFileA(OwnExecutablePath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (SetupParams.OwnFile == INVALID_HANDLE_VALUE) return false;
  uint8_t bytes[kPackageHeaderSize] = {};
  if (SeekOwnFile(PackageBase()) && ReadExactly(bytes, sizeof bytes)) {
    SetupParams.Header = DecodePackageHeader(bytes);
  }
  // Block sizes that do not describe this file would have later reads take
  // one block for another (an information cabinet of size 0 reads the
  // payload as the information cabinet): such a header is no package. A
  // language text that is empty or runs past the end is left to the
  // language loader, which refuses it with its own message before any other
  // block is read.
  LARGE_INTEGER size;
  if (!HasPackageMagic(SetupParams.Header) || !GetFileSizeEx(SetupParams.OwnFile, &size)) return false;
  const int64_t langEnd = int64_t(PackageBase()) + kPackageHeaderSize + SetupParams.Header.LangTextSize;
  if (SetupParams.Header.LangTextSize <= 0 || langEnd > size.QuadPart) return true;
  return CheckPackageLayout(PackageBase(), SetupParams.Header, size.QuadPart) == PackageLayoutFault::None;
}

void CloseOwnFile() {
  if (SetupParams.OwnFile != INVALID_HANDLE_VALUE) CloseHandle(SetupParams.OwnFile);
  SetupParams.OwnFile = INVALID_HANDLE_VALUE;
}

bool CopyPackageBlock(int64_t offset, int32_t length, const std::string& path) {
  // A damaged header may give any length: never allocate past the file's end.
  LARGE_INTEGER size;
  if (length < 0 || !GetFileSizeEx(SetupParams.OwnFile, &size) || offset + length > size.QuadPart ||
      !SeekOwnFile(offset)) {
    return false;
  }
  std::vector<uint8_t> block(static_cast<size_t>(length));
  if (length > 0 && !ReadExactly(block.data(), static_cast<DWORD>(length))) return false;
  const HANDLE out =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(out, block.data(), static_cast<DWORD>(length), &written, nullptr) &&
                  written == static_cast<DWORD>(length);
  CloseHandle(out);
  return ok;
}
