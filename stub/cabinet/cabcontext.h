// One FDI decompression context bound to the stub's stream callbacks and
// notification handler. One context exists at a time; the operations are not
// re-entrant.
#pragma once
#include <string>

#include "fdi_interface.h"

extern HFDI CabContext;
extern ERF CabError;
extern FDICABINETINFO CabInfo;
// CabCopy and the notification handler share the set's state in VolumeSet
// (volumeset.h).

HFDI CabCreate();
bool CabIsCabinet(HFDI context, const std::string& cabinet, FDICABINETINFO* info);
bool CabCopy(HFDI context);
bool CabDestroy(HFDI context);
std::string CabErrorText(ERF error);

// How ExtractPackageCabinet reports the two failures after which it ends the
// run, and whether the context is destroyed afterwards.
struct PackageCabinetRun {
  void (*ReportNotACabinet)();    // then exit code kExitStopped
  const char* CopyFailurePrefix;  // before CabErrorText(CabError); then kExitFailed
  bool DestroyContext;
};
// Creates CabContext, checks that the package's cabinet (VirtualCabName) is
// one and extracts it with every follow-up volume. Returns only on success.
void ExtractPackageCabinet(const PackageCabinetRun& run);
