#include "fixedtexts.h"

const char kFixedCaption[] = "Veltra";
const char kTextNoPackageData[] = "No data is associated with this Package.";
const char kTextNoTempFolder[] = "Unable to create temporary folder.";
const char kTextNoLanguage[] = "No localization data could be loaded.";
const char kTextCannotReadInfo[] = "Unable to read info";
const char kTextCannotPrepare[] = "Unable to prepare for decompression!";
const char kTextCannotReadSelf[] = "Unable to read from myself: ";
const char kTextUnknownError[] = "Unknown error occurred";
const char kTextCannotStart[] = "Unable to start this file:\r\n";
const char kTextCodePageMismatch1[] = "This package was made for Windows code page ";
const char kTextCodePageMismatch2[] = "; this system uses code page ";
const char kTextCodePageMismatch3[] =
    ". Its texts would show as other characters, and its files would get other names than the ones "
    "chosen for them.";
const char kTextCodePageGoOn[] = "\r\n\r\nGo on anyway?";
