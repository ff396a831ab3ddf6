// Makes sure a cabinet library is loaded and its four FDI entry points known.
#pragma once

// Returns only with a library loaded; otherwise shows kMsgCabinetDllFailed and ends the
// process with exit code 1.
void ProvideCabinetLibrary();
