// The four FDI entry points. Each validates its context, clears nothing the
// caller did not ask for, stores the reason of a failure in the error record
// given to FDICreate, and lets no exception out: an exception raised by a
// callback ends the call as a user abort.
//
// FDICreate itself needs only alloc and free; a caller that never copies may
// leave out the file callbacks, as the system's library allows. A call that
// needs one that is missing fails before it starts: FDIIsCabinet without
// read, and FDICopy without open, read, seek or close, as CABINET_NOT_FOUND
// (the cabinet cannot be reached) with ERROR_BAD_ARGUMENTS in erfType.
// FDICopy without write fails with TARGET_FILE only when the caller hands
// it a file to write (fdi_copy.cpp).
#include <new>

#include "fdi_context.h"
#include "fdi_interface.h"

using fdi::Context;

// The DLL is built without exception support to stay small; there nothing
// of ours can throw, and the guards fall away.
#if defined(__cpp_exceptions)
#define FDI_TRY try
#define FDI_CATCH_ALL catch (...)
#else
#define FDI_TRY if (true)
#define FDI_CATCH_ALL else
#endif

namespace {

constexpr int kErrorBadArguments = 160;  // ERROR_BAD_ARGUMENTS, for calls FDI cannot start

Context* liveContext(HFDI hfdi) {
  Context* ctx = static_cast<Context*>(hfdi);
  return ctx && ctx->magic == Context::kMagic ? ctx : nullptr;
}

}  // namespace

extern "C" HFDI FDIAPI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
                                 PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType,
                                 PERF perf) {
  (void)cpuType;  // FDI picks nothing by processor here
  if (!perf) return nullptr;
  if (!pfnalloc || !pfnfree) {  // the context itself cannot be had
    perf->erfOper = FDIERROR_ALLOC_FAIL;
    perf->erfType = kErrorBadArguments;
    perf->fError = 1;
    return nullptr;
  }
  FDI_TRY {
    void* block = pfnalloc(sizeof(Context));
    if (!block) {
      perf->erfOper = FDIERROR_ALLOC_FAIL;
      perf->erfType = 0;
      perf->fError = 1;
      return nullptr;
    }
    fdi::Callbacks io{pfnalloc, pfnfree, pfnopen, pfnread, pfnwrite, pfnclose, pfnseek};
    return new (block) Context(io, perf);
  }
  FDI_CATCH_ALL {
    perf->erfOper = FDIERROR_ALLOC_FAIL;
    perf->erfType = 0;
    perf->fError = 1;
    return nullptr;
  }
}

extern "C" int FDIAPI FDIIsCabinet(HFDI hfdi, intptr_t hf, PFDICABINETINFO pfdici) {
  Context* ctx = liveContext(hfdi);
  if (!ctx) return 0;
  if (!pfdici) {
    ctx->fail(FDIERROR_NONE, kErrorBadArguments);
    return 0;
  }
  FDI_TRY {
    if (!ctx->io.read) {
      ctx->fail(FDIERROR_CABINET_NOT_FOUND, kErrorBadArguments);
      return 0;
    }
    if (hf == -1) {
      ctx->fail(FDIERROR_NOT_A_CABINET);
      return 0;
    }
    FDICABINETINFO info{};
    int version = 0;
    FDIERROR e = fdi::describeCabinet(*ctx, hf, info, version);
    if (e != FDIERROR_NONE) {
      ctx->fail(e, e == FDIERROR_UNKNOWN_CABINET_VERSION ? version : 0);
      return 0;
    }
    *pfdici = info;
    return 1;
  }
  FDI_CATCH_ALL {
    ctx->fail(FDIERROR_USER_ABORT);
    return 0;
  }
}

extern "C" int FDIAPI FDICopy(HFDI hfdi, char* pszCabinet, char* pszCabPath, int flags, PFNFDINOTIFY pfnfdin,
                              PFNFDIDECRYPT pfnfdid, void* pvUser) {
  (void)flags;    // no flags are defined
  (void)pfnfdid;  // no cabinet writer of ours encrypts; the callback is not called
  Context* ctx = liveContext(hfdi);
  if (!ctx) return 0;
  if (!pfnfdin) {
    ctx->fail(FDIERROR_NONE, kErrorBadArguments);
    return 0;
  }
  if (!ctx->io.open || !ctx->io.read || !ctx->io.seek || !ctx->io.close) {
    ctx->fail(FDIERROR_CABINET_NOT_FOUND, kErrorBadArguments);
    return 0;
  }
  FDI_TRY {
    FDIERROR e = fdi::copyCabinet(*ctx, pszCabinet, pszCabPath, pfnfdin, pvUser);
    if (e != FDIERROR_NONE) {
      ctx->fail(e);
      return 0;
    }
    return 1;
  }
  FDI_CATCH_ALL {
    ctx->fail(FDIERROR_USER_ABORT);
    return 0;
  }
}

extern "C" int FDIAPI FDIDestroy(HFDI hfdi) {
  Context* ctx = liveContext(hfdi);
  if (!ctx) return 0;
  PFNFREE release = ctx->io.free;
  ctx->magic = 0;
  ctx->~Context();
  release(ctx);
  return 1;
}
