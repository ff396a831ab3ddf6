// The notification handler that FDICopy calls for every file it extracts and
// for every follow-up volume it needs.
#pragma once
#include <string>

#include "fdi_interface.h"

intptr_t FDIAPI CabNotify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);

// Why the handler stopped FDICopy, when the cabinet itself was at fault: FDI
// reports any stop by the handler as a user abort.
extern FDIERROR CabNotifyFault;

// Where a stored name lands: expanded when it holds a placeholder, otherwise
// below ExtractDir.
std::string TargetPath(const std::string& storedName);
// True when an existing target is to be replaced, by OverwriteMode or by ExtractionUi.
bool DecideOverwrite(const std::string& path);
// Asks through ExtractionUi: 1 = retry, 0 = ignore; abort ends the run.
int AskAbortRetryIgnore(const std::string& text);
// Finds the volume `cabName`, prompting where it is missing; `cabPath` comes
// back as the folder where it was found. Makes VolumeSet Located there; a
// prompt that gives no other location ends the run (exit code 2).
void LocateNextCabinet(const std::string& cabName, const std::string& diskName, std::string& cabPath);

// Ends the run (exit code 1, message 58 through ShowSetupError) when the
// folder that receives the payload, ExtractDir, lies where fewer than
// MinFree bytes may be written.
void CheckFreeSpace();
// What a run that ends during extraction leaves: the partial file goes, and
// with RemoveAfter the unpack folder with everything in it. ExitCleanup.
void AbandonExtraction();
