// One FDI context (an HFDI): the caller's callbacks and error record, and
// the glue between FDI's codes and cab's.
#pragma once

#include <cstdint>

#include "allocator.h"
#include "fdi_interface.h"
#include "input_stream.h"
#include "status.h"

namespace fdi {

// The seven callbacks of one FDI context.
struct Callbacks {
  PFNALLOC alloc;
  PFNFREE free;
  PFNOPEN open;
  PFNREAD read;
  PFNWRITE write;
  PFNCLOSE close;
  PFNSEEK seek;
};

struct Context {
  static constexpr uint32_t kMagic = 0x56464449;  // tells a live context from a stray pointer

  Context(const Callbacks& callbacks, ERF* error)
      : io(callbacks),
        mem(cab::Allocator{io.alloc, io.free}),
        files{io.read, io.seek, io.close},
        erf(error) {}

  void fail(FDIERROR code, int type = 0) {
    erf->erfOper = code;
    erf->erfType = type;
    erf->fError = 1;
  }

  uint32_t magic = kMagic;
  Callbacks io;
  cab::Memory mem;
  cab::FileCallbacks files;
  ERF* erf;
};

// cab numbers its codes as FDI does, so a code passes either way unchanged.
static_assert(int(cab::Status::kOk) == FDIERROR_NONE);
static_assert(int(cab::Status::kCabinetNotFound) == FDIERROR_CABINET_NOT_FOUND);
static_assert(int(cab::Status::kNotACabinet) == FDIERROR_NOT_A_CABINET);
static_assert(int(cab::Status::kUnknownVersion) == FDIERROR_UNKNOWN_CABINET_VERSION);
static_assert(int(cab::Status::kCorrupt) == FDIERROR_CORRUPT_CABINET);
static_assert(int(cab::Status::kAllocFail) == FDIERROR_ALLOC_FAIL);
static_assert(int(cab::Status::kBadCompressionType) == FDIERROR_BAD_COMPR_TYPE);
static_assert(int(cab::Status::kDecodeFail) == FDIERROR_MDI_FAIL);
static_assert(int(cab::Status::kTargetFile) == FDIERROR_TARGET_FILE);
static_assert(int(cab::Status::kReserveMismatch) == FDIERROR_RESERVE_MISMATCH);
static_assert(int(cab::Status::kWrongCabinet) == FDIERROR_WRONG_CABINET);
static_assert(int(cab::Status::kUserAbort) == FDIERROR_USER_ABORT);
static_assert(int(cab::Status::kEof) == FDIERROR_EOF);

inline FDIERROR fdiError(cab::Status status) { return static_cast<FDIERROR>(status); }
inline cab::Status cabStatus(FDIERROR error) { return static_cast<cab::Status>(error); }

// Extracts what begins in path + name; the error says why not.
FDIERROR copyCabinet(Context& ctx, const char* name, const char* path, PFNFDINOTIFY notify, void* user);

// Reads the header at the stream's current position and describes it.
FDIERROR describeCabinet(Context& ctx, intptr_t handle, FDICABINETINFO& info, int& version);

}  // namespace fdi
