// What the builder needs from the host's file system, for Linux and Windows
// alike: kinds and sizes of files, sorted folder listings, the attributes and
// time a cabinet entry carries over, the builder's own location, and putting
// finished output in place.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "format.h"

enum class HostKind { Missing, File, Folder, Other };

HostKind HostKindOf(const std::string& path);

// The names in a folder (no "." or ".."), sorted byte-wise so that every host
// lists them alike; false when the folder cannot be read.
bool ListHostFolder(const std::string& path, std::vector<std::string>& names);

// A host file name as UTF-8, and back: Linux names are UTF-8 already; the
// Windows build works through the A functions, whose names are in the
// system's ANSI code page.
std::string Utf8OfHostName(const std::string& hostName);
std::string HostNameOfUtf8(const std::string& utf8);

// The cabinet attribute bits a host file has: archive always; read-only when
// nobody may write it (Linux) or as Windows says; hidden for a name that
// starts with "." on Linux, where that is what hides a file, or as Windows
// says; system as Windows says.
uint16_t HostCabAttributes(const std::string& path);

// The last-write time of a host file; false when it cannot be read.
bool DosStampOfFile(const std::string& path, cab::DosStamp& stamp);

// The builder's own executable file; empty when it cannot be found.
std::string OwnExecutablePath();

// Joins a folder and a relative path with the host's separator; an absolute
// `relative` (a leading "/" or "\", or a drive letter) is returned as it is.
std::string JoinHostPath(const std::string& folder, const std::string& relative);
bool IsAbsoluteHostPath(const std::string& path);
// The folder part of a host path ("." for a bare name).
std::string HostFolderOf(const std::string& path);
// The last component of a host path.
std::string HostNameOf(const std::string& path);
// "\" and "/" both turned into the host's separator.
std::string ToHostSeparators(const std::string& path);

// The absolute path of an existing file or folder with every link and ".."
// resolved (on Windows: the full path name); empty when it does not exist.
std::string HostRealPath(const std::string& path);
// True when `path` (resolved by HostRealPath) is `folder` or lies below it.
bool IsBelowHostFolder(const std::string& realPath, const std::string& realFolder);

// True when both paths name one existing file.
bool SameHostFile(const std::string& a, const std::string& b);

// Renames `from` to `to`, replacing a file that is there already.
bool ReplaceHostFile(const std::string& from, const std::string& to, std::string& error);

// Copies a file; with `scramble`, scrambled from its position 0 with the
// package key for `password`. Creates `to` afresh (CreateFreshHostFile) and
// removes it on failure.
bool CopyHostFile(const std::string& from, const std::string& to, bool scramble, const std::string& password,
                  std::string& error);

// Creates a folder and the folders above it that are missing.
bool MakeHostFolders(const std::string& path);

// Sets a file's last-write time to a DOS date and time taken as UTC, and the
// cabinet attributes the host can hold (read-only everywhere; hidden and
// system on Windows).
bool SetHostFileStamp(const std::string& path, uint16_t dosDate, uint16_t dosTime);
void SetHostFileAttributes(const std::string& path, uint16_t cabAttributes);

// UTC seconds since 1970 of a DOS date and time.
int64_t UnixTimeOfDosStamp(uint16_t dosDate, uint16_t dosTime);

// Reading and writing whole files. WriteFileAtomically writes a sibling
// temporary file and renames it, so a failed run leaves no partial output.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes);
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

// A name beside `final` for its output while it is being written:
// final + "." + a token drawn once per run + ".partial", so that no file
// lying there before (or planted there) has it.
std::string PartialNameFor(const std::string& final);

// Creates `path` as a new file for writing (and reading back with
// `readBack`): an entry already there is removed first (a link itself, never
// what it points to), and the file is created exclusively without following
// a link. nullptr with `error` set.
std::FILE* CreateFreshHostFile(const std::string& path, bool readBack, std::string& error);

// Partial outputs that an interrupt must not leave behind: on SIGINT, SIGTERM
// (and SIGHUP) the paths registered are removed before the builder ends.
void RegisterPartialFile(const std::string& path);
void ForgetPartialFile(const std::string& path);

// Opens a regular file for reading ("rb"), never through a link and never a
// device, pipe or folder (a name that some record merely gives could name
// any of those); null otherwise.
std::FILE* OpenRegularHostFile(const std::string& path);
