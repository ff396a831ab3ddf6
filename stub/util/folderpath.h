// Which folder texts name a folder by themselves.
#pragma once
#include <string>

// True for a folder named in full: from a drive's root ("C:\Apps") or on a
// network share ("\\server\share"). Anything else (empty, "Apps", "\Apps",
// "C:Apps") would be taken relative to the current folder or drive, which
// the person running the setup neither sees nor chose.
bool IsFullFolderPath(const std::string& folder);
