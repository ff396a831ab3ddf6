// Pure text operations on Windows paths and numbers. Paths are ANSI texts with
// backslash separators, drive letters ("C:") and network shares
// ("\\server\share"). A folder text "with trailing backslash" ends in "\"
// unless it is empty, and the empty text means "no folder".
#pragma once
#include <cstdint>
#include <string>

// Paths in a two-byte ANSI code page (932, 936, 949, 950) hold characters
// whose second byte may be "\\": the path functions below step over them when
// this tells the bytes that start such a character (the stub sets it from
// the system's code page); null takes every byte as a character of its own.
extern bool (*PathLeadByte)(unsigned char byte);

// Appends "\" unless the text is empty or already ends in one.
std::string AddTrailingBackslash(const std::string& path);
// Drops a final "\" from texts longer than three characters, so that a drive
// root ("C:\") keeps its backslash.
std::string StripTrailingBackslash(const std::string& path);
// The folder of a path, with trailing backslash; empty for a bare name. A
// drive-relative "C:name" gives "C:\"; a name in a share gives the share.
std::string DirectoryPart(const std::string& path);
// What follows the folder part; the whole path when it has none.
std::string FileNamePart(const std::string& path);
// "C:" for a path with a drive letter, "\\server\share" for a network path,
// empty otherwise.
std::string DrivePart(const std::string& path);
// The text after the last "."; the whole text when it holds no ".".
std::string ExtensionPart(const std::string& path);

// Decimal digits with a leading "-" when negative; no grouping or padding.
std::string Int64ToText(int64_t value);
// Lenient number reading: leading blanks, an optional sign, then decimal
// digits, or hexadecimal ones after "$" or "0x"/"0X". Stops at the first
// character that does not belong, or before a digit that would overflow, and
// returns what it has read; 0 for an empty or non-numeric text.
int64_t TextToInt64(const std::string& text);
// Only the bytes 'a' to 'z' change; accented letters stay as they are.
std::string UpperCaseAscii(const std::string& text);
// Copies the text and its NUL into `buffer`; the caller guarantees the room.
char* CopyToBuffer(char* buffer, const std::string& text);

// Every occurrence of `token`, found left to right without overlap, replaced
// by `replacement`. The replacement is never searched again, so a replacement
// that holds its own token cannot loop. An empty token changes nothing.
std::string ReplaceAll(const std::string& token, const std::string& replacement, const std::string& text);

// True when a part of the path between separators ('\\' or '/', both of
// which Windows takes) is "..": such a name climbs out of its folder.
bool HasParentFolderPart(const std::string& path);
