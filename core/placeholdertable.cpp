#include "placeholdertable.h"

// CSIDL numbers are those of the Windows shell; the stub passes them to
// SHGetSpecialFolderLocation as they stand.
const Placeholder kPlaceholders[] = {
    {"<MIN_FREE>", PlaceholderValue::MinFree, false, false, 0},
    {"<APPNAME>", PlaceholderValue::AppName, false, false, 0},
    {"<PROGRAM FILES>", PlaceholderValue::ProgramFiles, true, false, 0},
    {"<COMMON>", PlaceholderValue::CommonFiles, true, false, 0},
    {"<WIN>", PlaceholderValue::Windows, true, false, 0},
    {"<SYS>", PlaceholderValue::System, true, false, 0},
    {"<TEMP>", PlaceholderValue::Temp, true, false, 0},
    {"<SRC>", PlaceholderValue::Source, true, true, 0},
    {"<SYSTEM DRIVE>", PlaceholderValue::SystemDrive, true, false, 0},
    {"<INSTALL>", PlaceholderValue::Install, true, false, 0},
    {"<DESKTOP>", PlaceholderValue::ShellFolder, true, false, 0x0010},           // DESKTOPDIRECTORY
    {"<FAVORITES>", PlaceholderValue::ShellFolder, true, false, 0x0006},         // FAVORITES
    {"<SENDTO>", PlaceholderValue::ShellFolder, true, false, 0x0009},            // SENDTO
    {"<FONTS>", PlaceholderValue::ShellFolder, true, false, 0x0014},             // FONTS
    {"<APPDATA>", PlaceholderValue::ShellFolder, true, false, 0x001a},           // APPDATA
    {"<COMMON_STARTUP>", PlaceholderValue::ShellFolder, true, false, 0x0018},    // COMMON_STARTUP
    {"<COMMON_DESKTOP>", PlaceholderValue::ShellFolder, true, false, 0x0019},    // COMMON_DESKTOPDIRECTORY
    {"<COMMON_APPDATA>", PlaceholderValue::ShellFolder, true, false, 0x0023},    // COMMON_APPDATA
    {"<STARTUP>", PlaceholderValue::ShellFolder, true, false, 0x0007},           // STARTUP
    {"<PROGRAMS>", PlaceholderValue::ShellFolder, true, false, 0x0002},          // PROGRAMS
    {"<STARTMENU>", PlaceholderValue::ShellFolder, true, false, 0x000b},         // STARTMENU
    {"<COMMON_PROGRAMS>", PlaceholderValue::ShellFolder, true, false, 0x0017},   // COMMON_PROGRAMS
    {"<COMMON_STARTMENU>", PlaceholderValue::ShellFolder, true, false, 0x0016},  // COMMON_STARTMENU
};
const size_t kPlaceholderCount = sizeof kPlaceholders / sizeof kPlaceholders[0];
