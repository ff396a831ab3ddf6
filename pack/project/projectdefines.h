// What a project value may take from outside the file:
//   ${NAME}      a define from the command line (-D NAME=VALUE)
//   ${env:NAME}  an environment variable, named as such on purpose, so that
//                a define cannot be met by whatever the environment holds
//   $${          a literal "${"
//   ~, ~/...     (paths only) the home folder
#pragma once
#include <map>
#include <string>

using Defines = std::map<std::string, std::string>;

// A define's name: a letter or "_", then letters, digits and "_".
bool IsDefineName(const std::string& name);

// `text` with every ${...} replaced. False at the first one that is not
// defined or not closed, with the reason in `why`.
bool ExpandDefines(const std::string& text, const Defines& defines, std::string& out, std::string& why);

// A path whose first part is "~" with the home folder (HOME; on Windows
// USERPROFILE) in its place; any other path as it is.
std::string ExpandHome(const std::string& path);
