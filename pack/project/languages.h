// The language texts shipped inside the builder (the files lang/*.lng of the
// source tree, written in UTF-8), chosen in a project by name:
// `Language = german`. "english" is the built-in default texts.
#pragma once
#include <string>
#include <vector>

#include "uTrans.h"

struct ShippedLanguage {
  std::string name;      // lower case, as the file is named
  std::string utf8Text;  // the file as written: 82 lines and the end line
  int codePage = 0;      // the code page its texts are meant for
};

// The shipped languages in name order, "english" included.
const std::vector<ShippedLanguage>& ShippedLanguages();

// The shipped language of that name (ASCII case ignored), or null.
const ShippedLanguage* FindShippedLanguage(const std::string& name);

// The names, for messages: "dutch, english, french, ...".
std::string ShippedLanguageNames();

// A language text in UTF-8 turned into the block a package stores: each line
// in `codePage`, CR LF line ends. False for a character the code page lacks
// (its line in `line`) or a text that is not 82 messages and the end line
// (`line` 0); `error` says which.
bool LanguageBlock(const std::string& utf8Text, int codePage, std::string& block, int& line,
                   std::string& error);
