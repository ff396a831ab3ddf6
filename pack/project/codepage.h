// The package's code page. The stub shows texts and writes file names in the
// system's ANSI code page, so the builder stores every name and text of a
// package as single bytes of one Windows code page, while it reads its inputs
// (project file, text files, language files, host file names) as UTF-8. Code
// page 1252 (Western European) is built in as a table, so that the builder
// converts the same way on every system it is built for; it serves English,
// German, French, Spanish, Italian, Dutch, Portuguese and the other Western
// languages.
#pragma once
#include <string>

constexpr int kDefaultCodePage = 1252;

// True for a code page the builder can write.
bool IsSupportedCodePage(int codePage);

// The supported code pages, for error messages.
const char* SupportedCodePages();

// How the project's inputs are written: UTF-8 (the default), or already in
// the package's code page. A file that starts with a UTF-8 byte order mark
// is UTF-8 whatever is declared.
enum class InputEncoding { Utf8, CodePage };

// `utf8` in `codePage`. False at the first character that code page lacks,
// or at bytes that are not UTF-8; `why` names the character and its code
// point (or the byte), and `out` holds what was converted before it.
bool Utf8ToCodePage(const std::string& utf8, int codePage, std::string& out, std::string& why);

// Text of `codePage` as UTF-8. Every byte has a meaning (the five bytes that
// 1252 leaves undefined become U+0081 and so on, as Windows reads them), so
// this cannot fail.
std::string CodePageToUtf8(const std::string& text, int codePage);

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
