// Expansion of the SZDD-compressed cabinet library that packages carry.
#pragma once
#include <string>

// Expands `source` into `target` (created or truncated) through the system's
// LZ expansion functions, or through our own expander where the system has
// none. True when the target file exists afterwards.
bool ExpandLzFile(const std::string& source, const std::string& target);
