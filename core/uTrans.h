// The language text of a package: 82 message lines (messages 0 to 81), then
// the end-marker line holding the single byte 0x01, each line ended by CR LF.
// Texts are stored as written, placeholder tokens included; they are expanded
// only where they are shown.
#pragma once
#include <array>
#include <string>

#include "langmessages.h"

static_assert(kLangMessageCount == 82, "a language text holds 82 messages");
constexpr char kLangEndMarker = '\x01';

using LangTable = std::array<std::string, kLangMessageCount>;

// The built-in English texts that a builder writes when a project names none.
extern const std::array<const char*, kLangMessageCount> kDefaultLangTexts;
LangTable DefaultLangTable();

// Reads the language text file into `table`. True when all 82 messages were
// read and the next line is exactly the end marker; bytes after that line are
// not read. Missing lines read as empty texts, and the slots keep whatever was
// read, also on failure.
bool LoadLangTable(const std::string& path, LangTable& table);

// The block as a package stores it.
std::string WriteLangText(const LangTable& table);

// Checks a language text before it goes into a package: the same rules as
// LoadLangTable. On failure `error` says what is wrong and where.
bool ValidateLangText(const std::string& text, LangTable& table, std::string& error);
