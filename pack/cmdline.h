// Option parsing shared by the subcommands.
#pragma once
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "commands.h"

struct CommandLine {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
  bool Has(const std::string& name) const { return options.count(name) != 0; }
  std::string Get(const std::string& name) const {
    const auto it = options.find(name);
    return it == options.end() ? "" : it->second;
  }
};

// Options are "--name value" or "-o value"; everything else is positional.
inline bool ParseCommandLine(const Arguments& args, const std::vector<std::string>& known, CommandLine& line,
                             std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() < 2 || a[0] != '-') {
      line.positional.push_back(a);
      continue;
    }
    bool isKnown = false;
    for (const std::string& k : known) isKnown = isKnown || k == a;
    if (!isKnown) return error = "unknown option " + a, false;
    if (i + 1 >= args.size()) return error = a + " needs a value", false;
    line.options[a] = args[++i];
  }
  return true;
}

inline int Usage(std::FILE* err, const std::string& problem, const char* usage) {
  std::fprintf(err, "veltra-pack: %s\nusage: veltra-pack %s\n", problem.c_str(), usage);
  return 2;
}
