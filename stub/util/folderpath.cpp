#include "folderpath.h"

bool IsFullFolderPath(const std::string& folder) {
  if (folder.size() < 3) return false;
  if (folder[0] == '\\' && folder[1] == '\\') return true;  // a network share
  return folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/');
}
