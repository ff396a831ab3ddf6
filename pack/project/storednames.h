// Stored names the stub can write. The stub writes a payload file to its
// destination folder + the stored name, or, when the name holds "<", to the
// name with its placeholders expanded. Beyond what the cabinet format allows
// (cab::CheckStoredName), a name must therefore
//   - begin with a folder placeholder when it holds a placeholder at all, or
//     it would land relative to whatever the current folder happens to be;
//   - follow a folder placeholder with "\" where the placeholder's value has
//     no backslash of its own, and not where it has ("<SRC>" keeps it);
//   - use "<" and ">" only for placeholders, since Windows allows neither in
//     file names;
//   - avoid what Windows changes or refuses in a name: a folder or file part
//     that ends in "." or " ", and the device names CON, PRN, AUX, NUL,
//     COM1 to COM9 and LPT1 to LPT9, with or without an extension.
#pragma once
#include <string>
#include <vector>

#include "codepage.h"

// Empty when the stub can write the stored name (in `codePage`), otherwise
// why not.
std::string CheckInstallName(const std::string& storedName, int codePage);

// True for a stored name that goes outside the destination folder.
bool IsPlaceholderName(const std::string& storedName);

// Case-folded form (as UTF-8) of a name in `codePage`, for spotting two
// names that Windows takes as one: the letters of the alphabets the code
// pages hold (Latin, Greek, Cyrillic, full-width Latin) in upper case.
std::string FoldedName(const std::string& storedName, int codePage);

// Where `extract` puts a stored name below its target folder: the name with
// the angle brackets of its placeholders dropped ("<SYS>\\x.dll" becomes
// SYS, x.dll), split at "\\" and "/". The mapped name is checked, not the
// stored one, so that dropping brackets cannot make a path: every part must
// be a plain name (not empty, ".", "..", a drive, a device name, or ending in
// "." or a blank) without ":", control or wildcard characters. Empty, with
// the parts in `parts`, when the name may be written; otherwise why not.
std::string MapExtractName(const std::string& storedName, int codePage, std::vector<std::string>& parts);

// A stored name or text as a terminal may show it: converted from the
// package's code page to UTF-8, control characters (C0, DEL and C1) as \xNN.
std::string TerminalText(const std::string& packageText, int codePage = kDefaultCodePage);

// UTF-8 text (already converted) with its control characters escaped as in
// TerminalText, so that no escape sequence reaches a terminal.
std::string EscapeControls(const std::string& utf8);
