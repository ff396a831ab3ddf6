// The keys of a project file, once: the loader knows a key by this table,
// suggests from it when one is misspelt or misplaced, and `help keys` and
// the README's reference are printed from it.
#pragma once
#include <string>
#include <vector>

// How a value is taken, beyond the common rules of inifile.h.
enum class KeyKind {
  Text,         // taken as it is
  CommandLine,  // keeps its quotes, which the program it is passed to needs
  Path,         // "~" is the home folder; relative to the project file
};

struct ProjectKey {
  const char* section;
  const char* name;
  KeyKind kind;
  const char* type;      // what the value may be
  const char* fallback;  // what holds when the key is left out
  const char* meaning;
};

// Every key, by section ([Setup], [Package], [Sign]) in the order of the
// reference. [Files] has no keys of its own: its lines are stored names.
const std::vector<ProjectKey>& ProjectKeys();

// The sections a project may have, as written in the reference.
const std::vector<std::string>& ProjectSections();

// The key of `section` called `name` (names ignore case), or null.
const ProjectKey* FindProjectKey(const std::string& section, const std::string& name);

// What to add to "unknown key K in [S]": the section the key belongs to, or
// the nearest key names of [S]; empty when nothing is near.
std::string KeySuggestion(const std::string& section, const std::string& name);

// The same for an unknown section.
std::string SectionSuggestion(const std::string& name);

// What a [Files] line may be, for the references.
const char* ProjectFilesSyntax();

// The reference: plain text for `help keys`, or a Markdown table for the README.
std::string KeyReference(bool markdown);
