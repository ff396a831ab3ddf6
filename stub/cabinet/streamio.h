// The seven callbacks through which FDI allocates memory and reads and writes
// files. Opening the virtual name (core's kVirtualCabName) opens the stub's own file instead,
// positioned at CabinetOffset, and every position FDI sees on that handle is
// relative to the cabinet's first byte. Reads are descrambled while
// CabinetScrambled is set; every write is counted and shown through ExtractionUi.
#pragma once
#include <windows.h>

#include <cstdint>

#include "fdi_interface.h"
#include "package.h"

constexpr const char* VirtualCabName = kVirtualCabName;
extern int64_t BytesDone;  // bytes written (and kept) since the worker reset it

// FDI-facing forms (cdecl on 32-bit, FDI's documented prototypes).
void* FDIAPI StreamAlloc(unsigned long cb);
void FDIAPI StreamFree(void* pv);
intptr_t FDIAPI StreamOpen(char* pszFile, int oflag, int pmode);
unsigned int FDIAPI StreamRead(intptr_t hf, void* pv, unsigned int cb);
unsigned int FDIAPI StreamWrite(intptr_t hf, void* pv, unsigned int cb);
int FDIAPI StreamClose(intptr_t hf);
long FDIAPI StreamSeek(intptr_t hf, long dist, int seektype);

// Full forms: FDI's arguments, then a cell for the system error code (0 when
// the call succeeded) and an unused user pointer.
intptr_t StreamOpenEx(const char* pszFile, int oflag, int pmode, int32_t* err, void* pv);
unsigned int StreamReadEx(intptr_t hf, void* pv, unsigned int cb, int32_t* err, void* user);
unsigned int StreamWriteEx(intptr_t hf, void* pv, unsigned int cb, int32_t* err, void* user);
int StreamCloseEx(intptr_t hf, int32_t* err, void* user);
long StreamSeekEx(intptr_t hf, long dist, int seektype, int32_t* err, void* user);

// True for a handle that the virtual open returned and that is still open.
bool IsOwnFile(intptr_t hf);
