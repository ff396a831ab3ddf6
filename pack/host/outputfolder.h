// Writing files below one folder without leaving it: every folder below it
// is entered without following a link, files are created exclusively (never
// through a link planted where they go), and modes and times are set on the
// open file rather than by path. Files named as protected (the package being
// extracted and its volumes) are never replaced.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The identity of an existing file (device and file number), to tell two
// names of one file apart from two files.
struct HostFileId {
  uint64_t volume = 0, high = 0, low = 0;
  bool operator==(const HostFileId& o) const { return volume == o.volume && high == o.high && low == o.low; }
};
// False when the file cannot be opened; a link is followed.
bool HostFileIdOf(const std::string& path, HostFileId& id);

class OutputFolder {
 public:
  enum class Outcome { Created, Kept, Refused };

  OutputFolder() = default;
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // The folder itself is taken as given (a link there is the user's own
  // choice) and created when missing.
  bool Open(const std::string& path, std::string& error);
  void Protect(const HostFileId& id) { protected_.push_back(id); }

  // Creates the file `parts` (folders, then the file name) for writing.
  // An existing file is Kept unless `overwrite`; then it is removed first,
  // unless it is protected or a folder, which is Refused. A link on the way
  // is Refused. `file` is set when Created; `shown` is the path for messages.
  Outcome Create(const std::vector<std::string>& parts, bool overwrite, std::FILE*& file, std::string& shown,
                 std::string& error);
  // Flushes and closes a created file, with its time (a DOS stamp taken as
  // UTC) and the cabinet attributes the host can hold (see
  // SetHostFileAttributes).
  bool Finish(std::FILE* file, uint16_t dosDate, uint16_t dosTime, uint16_t cabAttributes);
  // Removes a created file that was not completed.
  void Discard(const std::vector<std::string>& parts);

 private:
  bool IsProtected(const HostFileId& id) const;
  std::string path_;
  std::vector<HostFileId> protected_;
#ifndef _WIN32
  int fd_ = -1;
  int EnterFolders(const std::vector<std::string>& parts, bool create, std::string& error);
#endif
};
