// File-system queries and actions on ANSI paths. None of them shows anything:
// failures come back as false, -1, 0 or the empty text.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

bool DirectoryExists(const std::string& path);

// The text that a system call in the manner of GetTempPathA writes:
// `read(buffer, size)` returns the length written without the NUL, the size
// it needs when the buffer is too small (writing nothing), or 0 on failure.
// A longer text is read again with the buffer it asked for; empty on failure.
using SizedTextReader = uint32_t (*)(char* buffer, uint32_t size);
std::string ReadSizedText(SizedTextReader read, uint32_t firstSize = 261);
// Last-write time of a file as a local DOS date-time (date << 16 | time); -1
// when there is no such file, when the path names a folder, or when the time
// lies outside the DOS range (before 1980). Wildcards answer for the first match.
int32_t FileDosTime(const std::string& path);
// True for a file (not a folder), whatever its time stamp.
bool FileExists(const std::string& path);
// False when the file is there but cannot be opened for deletion now: another
// program holds it open without sharing that, or this user may not delete it.
bool FileReplaceable(const std::string& path);
// Moves `from` over `to`, replacing a file there, read-only or not: the
// replacement is whole or not at all. False leaves both as they were.
bool MoveFileOver(const std::string& from, const std::string& to);
// The whole file, under 1 GiB; false when it cannot be read whole.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes);
// Creates the folder and every missing parent; true when it exists afterwards.
bool CreateFolderPath(const std::string& folder);
// Creates base\prefixN\ for the smallest N whose name was free and could be
// made, and returns it with its backslash; the empty text when no folder could
// be made within a bounded number of attempts. The folder is one that this
// call created (a name taken already, by a folder, a file or a link, is
// skipped), and only the user this process runs as and the system account
// have access to it and to what is made inside it.
std::string CreateUniqueFolder(const std::string& base, const std::string& prefix);

// Called with each path of a walk; false stops the walk.
using WalkCallback = bool (*)(const std::string& path);
// Reports every entry that matches `mask` (subfolders after their contents when
// recursing) and, for the mask "*.*", the folder itself last, with a trailing
// backslash. A link to a folder (junction, symbolic link) is reported like a
// file and never entered. True when the walk ran to its end and every callback
// said go on.
bool WalkFolder(const std::string& folder, const std::string& mask, bool recurse, WalkCallback callback);
// Free bytes that this user may write where `path` (or the nearest folder
// above it that exists) lies, disk quotas counted; 0 when unknown.
int64_t DiskFreeBytes(const std::string& path);
