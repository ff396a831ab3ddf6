// One FDI decompression context bound to the stub's stream callbacks and
// notification handler. One context exists at a time; the operations are not
// re-entrant.
#pragma once
#include <string>

#include "fdi_interface.h"

extern HFDI CabContext;
extern ERF CabError;
extern FDICABINETINFO CabInfo;
// Link between CabCopy and the notification handler: empty = no further
// volume; "$NEWCAB$" = a follow-up run has not asked for another volume yet;
// otherwise the full path of the next volume.
extern std::string NextCabinet;
extern const char kNewCabMarker[];  // "$NEWCAB$"

HFDI CabCreate();
bool CabIsCabinet(HFDI context, const std::string& cabinet, FDICABINETINFO* info);
bool CabCopy(HFDI context);
bool CabDestroy(HFDI context);
std::string CabErrorText(ERF error);
