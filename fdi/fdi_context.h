// One FDI context (an HFDI): the caller's callbacks and error record.
#pragma once

#include <cstdint>

#include "fdi_memory.h"

namespace fdi {

struct Context {
  static constexpr uint32_t kMagic = 0x56464449;  // tells a live context from a stray pointer

  Context(const Callbacks& callbacks, ERF* error) : io(callbacks), mem(io), erf(error) {}

  void fail(FDIERROR code, int type = 0) {
    erf->erfOper = code;
    erf->erfType = type;
    erf->fError = 1;
  }

  uint32_t magic = kMagic;
  Callbacks io;
  Memory mem;
  ERF* erf;
};

// Extracts what begins in path + name; the error says why not.
FDIERROR copyCabinet(Context& ctx, const char* name, const char* path, PFNFDINOTIFY notify, void* user);

// Reads the header at the stream's current position and describes it.
FDIERROR describeCabinet(Context& ctx, intptr_t handle, FDICABINETINFO& info, int& version);

}  // namespace fdi
