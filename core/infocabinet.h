// The files of the information cabinet (block 4), by the names the builder
// stores and the stub and the package reader look for. The cabinet holds no
// folders of its own; each name is a bare file name with a final dot.
//
//   "~DAT1."   the setup script (setupscript.h), always present
//   "~DAT2A."  the picture at the side of the welcome and completion pages
//   "~DAT2B."  the picture at the top of the inner pages
//   "~DAT3."   the integrity record (integrity.h), version 1
//   "~DAT4."   its version-2 entries: SHA-256 of the follow-up volumes
//
// A stub ignores a name it does not know, so new files may join the list.
#pragma once

extern const char kSetupScriptName[7];       // "~DAT1."
extern const char kSidePictureName[8];       // "~DAT2A."
extern const char kHeaderPictureName[8];     // "~DAT2B."
extern const char kIntegrityRecordName[7];   // "~DAT3."
extern const char kIntegrityDigestsName[7];  // "~DAT4."
