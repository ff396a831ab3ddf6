// Reads the setup script "~DAT1." into SetupParams.
#pragma once
#include <string>

// False when the file is missing or unreadable, or ends before a list's
// terminator line; the caller reports it and ends the run.
bool ReadSetupScript(const std::string& path);
