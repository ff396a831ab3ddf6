// The files a project names: text files for the wizard's lists, pictures,
// and the [Files] section that makes up the payload.
#pragma once
#include <string>
#include <vector>

#include "inifile.h"
#include "projectrecord.h"

// The whole file as bytes; false when it cannot be read.
bool ReadHostText(const std::string& path, std::string& text);

// Turns a text file into a list text of the setup script: lines joined by
// CR LF whatever the file used, the file's final line end dropped, empty
// lines before the first text dropped (the reader would drop them). Each such
// change is described in `notes`. `bytes` is in the package's code page
// already.
// False, with the reason in `notes`, for a text the reader cannot give back:
// a line equal to `terminator`, or a NUL byte.
bool ListTextFromFile(const std::string& bytes, const char* terminator, std::string& text,
                      std::vector<std::string>& notes);

// True for a Windows bitmap file: "BM", a file size field that is not larger
// than the file, and pixel data that starts inside it.
bool CheckBitmapFile(const std::string& path, std::string& why);

// Reads the [Files] section into project.files: each line is
//   stored name = source      a file under that name; a stored name ending
//                             in "\" takes the source's file name after it
//   folder\ = source folder   every file below it, under folder\ ("\" alone:
//                             at the top of the destination)
//   source                    a file or folder under its own name
// Stored names are checked, duplicates (as Windows compares names) and a
// file that is also a folder are refused, and the list is sorted.
void CollectPayloadFiles(const IniSection& section, Project& project, Diagnostics& diagnostics);

// The order of the payload: byte-wise, with "\" before any other character,
// so that a folder's files stay together.
bool StoredNameLess(const std::string& a, const std::string& b);
