// Expansion of the placeholder tokens that package texts may hold ("<WIN>",
// "<APPNAME>", "<REG:path>", "<br/>" and the others): one fixed sequence of
// whole-text replacements, so a value that holds a later token is expanded
// further, while one that holds an earlier token keeps it.
#pragma once
#include <string>

// The text with every known token replaced. `ConvertBreaks` turns "<br/>"
// into CR LF, for texts that are shown; paths and command lines keep it.
// Lookups that find nothing put in the empty text; a "<REG:" without a
// closing ">" stays. Only the first registry token's path is resolved (with
// all copies of exactly that token).
std::string ExpandPlaceholders(const std::string& text, bool ConvertBreaks);
