#include "switches.h"

#include "setupparams.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The switch's name in lower case, without its leading / or -, up to the
// first ':' or '='; `value` gets what follows that separator.
std::string SplitSwitch(const std::string& argument, std::string& value, bool& hasValue) {
  std::string name;
  size_t i = 1;
  for (; i < argument.size() && argument[i] != ':' && argument[i] != '='; ++i) name += Lower(argument[i]);
  hasValue = i < argument.size();
  value = hasValue ? argument.substr(i + 1) : std::string();
  return name;
}

// A folder or file switch needs its name: "/D=" alone is not one.
void TakeFolder(std::string& field, const std::string& value, bool hasValue) {
  if (!hasValue || value.empty()) SetupParams.Switches.Unknown = true;
  field = value;
}

void ApplySwitch(const std::string& argument) {
  std::string value;
  bool hasValue = false;
  const std::string name = SplitSwitch(argument, value, hasValue);
  if (argument.empty() || (argument[0] != '/' && argument[0] != '-')) {
    SetupParams.Switches.Unknown = true;
  } else if ((name == "quiet" || name == "q") && !hasValue) {
    SetupParams.Switches.Quiet = true;
  } else if (name == "passive" && !hasValue) {
    SetupParams.Switches.Passive = true;
  } else if (name == "?" && !hasValue) {
    SetupParams.Switches.ShowUsage = true;
  } else if (name == "d") {
    TakeFolder(SetupParams.Switches.Destination, value, hasValue);
  } else if (name == "password-file") {
    TakeFolder(SetupParams.Switches.PasswordFile, value, hasValue);
  } else if (name == "log") {
    TakeFolder(SetupParams.Switches.LogFile, value, hasValue);
  } else if (name == "extract") {
    TakeFolder(SetupParams.Switches.ExtractOnly, value, hasValue);
  } else {
    SetupParams.Switches.Unknown = true;
  }
}

}  // namespace

std::string NextArgument(const char*& line) {
  while (IsBlank(*line)) ++line;
  std::string argument;
  bool quoted = false;
  for (; *line && (quoted || !IsBlank(*line)); ++line) {
    if (*line == '"') {
      quoted = !quoted;
    } else {
      argument += *line;
    }
  }
  return argument;
}

void ParseSwitches(const char* commandLine) {
  const char* line = commandLine ? commandLine : "";
  NextArgument(line);  // the program's own name
  for (;;) {
    while (IsBlank(*line)) ++line;
    if (!*line) break;
    ApplySwitch(NextArgument(line));
  }
  // Asked for both, the run shows no window at all: the stricter wish holds.
  if (SetupParams.Switches.Quiet) SetupParams.Switches.Passive = false;
}
