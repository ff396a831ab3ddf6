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

// After the end-marker line, a package whose names or texts hold characters
// beyond ASCII says which Windows ANSI code page they are written in, as one
// line "CodePage=1251". Readers that stop at the end marker never see it.
constexpr char kLangCodePageKey[] = "CodePage=";

// The code page a language block records after its end marker; 0 when it
// records none or the block is not a language text.
int LangTextCodePage(const std::string& text);

// Reads the language text file into `table`. True when all 82 messages were
// read and the next line is exactly the end marker. Missing lines read as
// empty texts, and the slots keep whatever was read, also on failure. The
// line after the marker is read only for the code page (0 when it records
// none), and only when `codePage` is given.
bool LoadLangTable(const std::string& path, LangTable& table, int* codePage = nullptr);

// The block as a package stores it.
std::string WriteLangText(const LangTable& table);

// Checks a language text before it goes into a package: the same rules as
// LoadLangTable. On failure `error` says what is wrong and where.
bool ValidateLangText(const std::string& text, LangTable& table, std::string& error);
