// The package's code page. The stub shows texts and writes file names in the
// system's ANSI code page, so the builder stores every name and text of a
// package in one Windows ANSI code page (874, 932, 936, 949, 950 or 1250 to
// 1258), while it reads its inputs (project file, text files, language files,
// host file names) as UTF-8. The conversion is the system's own (glibc's
// iconv, or MultiByteToWideChar and WideCharToMultiByte on Windows), one
// character at a time with an exact round trip, so that no best-fit
// substitution or decomposed form is stored; where glibc's tables differ from
// Windows', Windows' reading wins, since the stub runs there. Code pages 932,
// 936, 949 and 950 hold two-byte characters whose second byte may be "\" or
// a letter: code that splits or folds stored bytes steps over them.
#pragma once
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kDefaultCodePage = 1252;

// True for a code page the builder can write.
bool IsSupportedCodePage(int codePage);

// The supported code pages with their scripts, for error messages.
std::string SupportedCodePages();

// True for a byte that starts a two-byte character in `codePage`.
bool IsLeadByte(int codePage, uint8_t byte);

// Every lead byte of `codePage`; none for a single-byte code page.
std::bitset<256> LeadBytes(int codePage);

// Bytes of the character that starts at `at` (1 or 2).
size_t CharSizeAt(int codePage, const std::string& text, size_t at);

// The first of `separators` at or after `from` that is a character of its
// own, not the second byte of a two-byte one; npos when none.
size_t FindSeparator(int codePage, const std::string& text, size_t from, const char* separators);

// How the project's inputs are written: UTF-8 (the default), or already in
// the package's code page. A file that starts with a UTF-8 byte order mark
// is UTF-8 whatever is declared.
enum class InputEncoding { Utf8, CodePage };

// `utf8` in `codePage`. False at the first character that code page lacks,
// or at bytes that are not UTF-8; `why` names the character and its code
// point (or the byte), and `out` holds what was converted before it.
bool Utf8ToCodePage(const std::string& utf8, int codePage, std::string& out, std::string& why);

// Text of `codePage` as UTF-8, as Windows reads it: the C1 bytes a code page
// leaves undefined (1252's 0x81, 0x8D, 0x8F, 0x90, 0x9D and others) become
// U+0081 and so on; other bytes without a character, and characters of the
// private-use area, become U+FFFD. It cannot fail.
std::string CodePageToUtf8(const std::string& text, int codePage);

// UTF-8 text with the letters of the alphabets the code pages hold (Latin,
// Greek, Cyrillic, full-width Latin) in capitals, as Windows compares file
// names; other bytes as they are.
std::string UpperCaseUtf8(const std::string& utf8);

// Checks that `text` is UTF-8; false with the offending byte in `why`.
bool CheckUtf8(const std::string& text, std::string& why);

// True for a text that starts with a UTF-16 byte order mark (either order),
// as Windows editors and PowerShell write them.
bool IsUtf16(const std::string& bytes);

// Such a text as UTF-8, without its byte order mark. False for a text cut in
// the middle of a character or a lone surrogate; `line` is where that is.
bool Utf16ToUtf8(const std::string& bytes, std::string& utf8, int& line, std::string& why);

// An input file's text as UTF-8: UTF-16 with its byte order mark is
// converted; a UTF-8 byte order mark is dropped and means UTF-8; otherwise the text is checked as UTF-8 or
// converted from the code page, as `encoding` says. On failure `line` is the 1-based line of the fault and
// `why` says what it is.
bool DecodeInput(const std::string& bytes, InputEncoding encoding, int codePage, std::string& utf8, int& line,
                 std::string& why);

// A multi-line UTF-8 text in `codePage`; on failure `line` is the 1-based
// line that holds the character the code page lacks.
bool EncodeLines(const std::string& utf8, int codePage, std::string& out, int& line, std::string& why);

// The line a language block carries after its end marker to record
// `codePage` (kLangCodePageKey), CR LF ended.
std::string CodePageLine(int codePage);
