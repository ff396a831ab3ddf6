// The texts the stub shows that are not in the language text: those shown
// before a language text is loaded or when none could be, and the fixed
// words of its own faults. Each is named once here.
#pragma once

extern const char kFixedCaption[];        // "Veltra"
extern const char kTextNoPackageData[];   // "No data is associated with this Package."
extern const char kTextNoTempFolder[];    // "Unable to create temporary folder."
extern const char kTextNoLanguage[];      // "No localization data could be loaded."
extern const char kTextCannotReadInfo[];  // "Unable to read info"
extern const char kTextCannotPrepare[];   // "Unable to prepare for decompression!"
extern const char kTextCannotReadSelf[];  // "Unable to read from myself: "
extern const char kTextUnknownError[];    // "Unknown error occurred"
extern const char kTextCannotStart[];     // "Unable to start this file:\r\n"
// The warning of a package made for another ANSI code page, around its
// number and the system's, and the question of the box that shows it.
extern const char kTextCodePageMismatch1[];  // "This package was made for Windows code page "
extern const char kTextCodePageMismatch2[];  // "; this system uses code page "
extern const char kTextCodePageMismatch3[];  // ". Its texts would show as other characters ..."
extern const char kTextCodePageGoOn[];       // "\r\n\r\nGo on anyway?"
