#include "infocabinet.h"

const char kSetupScriptName[7] = "~DAT1.";
const char kSidePictureName[8] = "~DAT2A.";
const char kHeaderPictureName[8] = "~DAT2B.";
const char kIntegrityRecordName[7] = "~DAT3.";
const char kIntegrityDigestsName[7] = "~DAT4.";
