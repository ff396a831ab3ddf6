#include "streamio.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "exitsetup.h"
#include "extractionui.h"
#include "integritycheck.h"
#include "packagefile.h"
#include "pausegate.h"
#include "setupparams.h"
#include "uObfuscate.h"

int64_t BytesDone = 0;

namespace {

const int kOpenCreate = 0x0100;  // _O_CREAT

// Handles that the virtual open returned. A handle is recognised by identity:
// telling the own file by its size would shift the seeks of any follow-up
// volume that happens to be exactly as long as the stub. The table grows with
// the handles a cabinet library keeps open at once: a handle missing from it
// would be read and sought without the cabinet's offset.
std::vector<HANDLE> OwnHandles;

void RememberOwnHandle(HANDLE handle) { OwnHandles.push_back(handle); }

void ForgetOwnHandle(HANDLE handle) {
  for (size_t i = 0; i < OwnHandles.size(); ++i) {
    if (OwnHandles[i] != handle) continue;
    OwnHandles[i] = OwnHandles.back();
    OwnHandles.pop_back();
    return;
  }
}

HANDLE AsHandle(intptr_t hf) { return reinterpret_cast<HANDLE>(hf); }

void SetError(int32_t* err, bool failed) {
  if (err) *err = failed ? static_cast<int32_t>(GetLastError()) : 0;
}

uint32_t CabinetOffsetLow() { return static_cast<uint32_t>(SetupParams.CabinetOffset); }

}  // namespace

void* FDIAPI StreamAlloc(unsigned long cb) { return cb ? std::malloc(cb) : nullptr; }

void FDIAPI StreamFree(void* pv) { std::free(pv); }

intptr_t StreamOpenEx(const char* pszFile, int oflag, int, int32_t* err, void*) {
  SetError(err, false);
  const bool isVirtual = std::strcmp(pszFile, VirtualCabName) == 0;
  const std::string path = isVirtual ? OwnExecutablePath() : std::string(pszFile);
  SECURITY_ATTRIBUTES security = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const bool create = (oflag & kOpenCreate) != 0;
  const HANDLE handle = CreateFileA(path.c_str(), create ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                                    create ? 0 : FILE_SHARE_READ, &security,
                                    create ? CREATE_NEW : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) SetError(err, true);
  if (isVirtual) {
    const DWORD at = handle == INVALID_HANDLE_VALUE
                         ? INVALID_SET_FILE_POINTER
                         : SetFilePointer(handle, static_cast<LONG>(CabinetOffsetLow()), nullptr, FILE_BEGIN);
    if (static_cast<int64_t>(at) != SetupParams.CabinetOffset) {
      ShowSetupError(Message(kMsgCabSeekError));
      ExitSetup(kExitFailed);
    }
    RememberOwnHandle(handle);
  }
  return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(handle);
}

unsigned int StreamReadEx(intptr_t hf, void* pv, unsigned int cb, int32_t* err, void*) {
  SetError(err, false);
  uint32_t position = 0;
  if (SetupParams.CabinetScrambled) position = static_cast<uint32_t>(StreamSeek(hf, 0, SEEK_CUR));
  DWORD n = 0;
  if (!ReadFile(AsHandle(hf), pv, cb, &n, nullptr)) {
    SetError(err, true);
    return n;
  }
  if (SetupParams.CabinetScrambled) {
    DescrambleAt(static_cast<uint8_t*>(pv), InvertKey(SetupParams.ScrambleKey), n, position);
  }
  return n;
}

unsigned int StreamWriteEx(intptr_t hf, void* pv, unsigned int cb, int32_t* err, void*) {
  PassPauseGate();
  SetError(err, false);
  DWORD n = 0;
  if (!WriteFile(AsHandle(hf), pv, cb, &n, nullptr)) SetError(err, true);
  NoteTargetWrite(hf, pv, n);
  BytesDone += static_cast<int32_t>(cb);
  if (ExtractionUi.ShowProgress) ExtractionUi.ShowProgress(BytesDone);
  return n;
}

int StreamCloseEx(intptr_t hf, int32_t* err, void*) {
  SetError(err, false);
  ForgetOwnHandle(AsHandle(hf));
  NoteTargetClosed(hf);
  if (CloseHandle(AsHandle(hf))) return 0;
  SetError(err, true);
  return -1;
}

long StreamSeekEx(intptr_t hf, long dist, int seektype, int32_t* err, void*) {
  SetError(err, false);
  const bool own = IsOwnFile(hf);
  DWORD position;
  if (own && seektype == SEEK_SET) {
    position =
        SetFilePointer(AsHandle(hf), static_cast<LONG>(CabinetOffsetLow() + static_cast<uint32_t>(dist)),
                       nullptr, FILE_BEGIN);
  } else {
    position = SetFilePointer(AsHandle(hf), dist, nullptr, static_cast<DWORD>(seektype));
  }
  if (position == INVALID_SET_FILE_POINTER) SetError(err, true);
  if (own) position -= CabinetOffsetLow();
  return static_cast<long>(position);
}

intptr_t FDIAPI StreamOpen(char* pszFile, int oflag, int pmode) {
  int32_t err;
  return StreamOpenEx(pszFile, oflag, pmode, &err, nullptr);
}

unsigned int FDIAPI StreamRead(intptr_t hf, void* pv, unsigned int cb) {
  int32_t err;
  return StreamReadEx(hf, pv, cb, &err, nullptr);
}

unsigned int FDIAPI StreamWrite(intptr_t hf, void* pv, unsigned int cb) {
  int32_t err;
  return StreamWriteEx(hf, pv, cb, &err, nullptr);
}

int FDIAPI StreamClose(intptr_t hf) {
  int32_t err;
  return StreamCloseEx(hf, &err, nullptr);
}

long FDIAPI StreamSeek(intptr_t hf, long dist, int seektype) {
  int32_t err;
  return StreamSeekEx(hf, dist, seektype, &err, nullptr);
}

bool IsOwnFile(intptr_t hf) {
  if (hf == 0 || hf == -1) return false;
  for (HANDLE slot : OwnHandles) {
    if (slot == AsHandle(hf)) return true;
  }
  return false;
}
