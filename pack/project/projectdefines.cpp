#include "projectdefines.h"

#include <cstdlib>

bool IsDefineName(const std::string& name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  for (char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

bool ExpandDefines(const std::string& text, const Defines& defines, std::string& out, std::string& why) {
  out.clear();
  for (size_t at = 0; at < text.size();) {
    if (text.compare(at, 3, "$${") == 0) {
      out += "${";
      at += 3;
      continue;
    }
    if (text.compare(at, 2, "${") != 0) {
      out += text[at++];
      continue;
    }
    const size_t close = text.find('}', at);
    if (close == std::string::npos)
      return why = "\"${\" without its \"}\" (write $${ for a literal ${)", false;
    const std::string name = text.substr(at + 2, close - at - 2);
    const std::string reference = text.substr(at, close - at + 1);
    if (name.compare(0, 4, "env:") == 0) {
      const char* value = IsDefineName(name.substr(4)) ? std::getenv(name.substr(4).c_str()) : nullptr;
      if (!value)
        return why = reference + ": the environment variable " + name.substr(4) + " is not set", false;
      out += value;
    } else {
      const auto found = defines.find(name);
      if (found == defines.end())
        return why = reference + " is not defined (give -D " + name + "=VALUE, or ${env:" + name +
                     "} for the environment variable)",
               false;
      out += found->second;
    }
    at = close + 1;
  }
  return true;
}

std::string ExpandHome(const std::string& path) {
  if (path.empty() || path[0] != '~' || (path.size() > 1 && path[1] != '/' && path[1] != '\\')) return path;
#ifdef _WIN32
  const char* home = std::getenv("USERPROFILE");
#else
  const char* home = std::getenv("HOME");
#endif
  return home && *home ? home + path.substr(1) : path;
}
