// Where the system looks for libraries named without a folder.
#pragma once

// Limits the search for every library loaded by name from now on, the system's
// own delay-loaded ones included, to the system folder, so that a library
// planted beside a downloaded program is never picked up. A load by full path
// still loads that file. True when the system has SetDefaultDllDirectories
// (Windows 8 and later, or an older one
// updated with KB2533623) and took the limit; older
// systems keep their usual search.
bool LimitLibrarySearchToSystem();
