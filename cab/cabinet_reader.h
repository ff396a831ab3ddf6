// The reading side of a cabinet: its header, folder and file entries, read
// through an InputStream over the caller's file callbacks, into buffers from
// the caller's allocator. The records and constants are those of format.h.
#pragma once

#include <cstdint>

#include "allocator.h"
#include "format.h"
#include "input_stream.h"
#include "status.h"

namespace cab {

// Reads and checks the header, up to the end of the texts. Returns
// Status::kNotACabinet, Status::kUnknownVersion or
// Status::kCorrupt when the stream does not hold a usable cabinet.
Status ReadHeader(InputStream& stream, CabinetHeader& header);

// One cabinet of a set, opened and read up to its file entries.
class Cabinet {
 public:
  Cabinet(Memory& mem, const FileCallbacks& io, intptr_t handle);
  ~Cabinet();  // closes the handle
  Cabinet(const Cabinet&) = delete;
  Cabinet& operator=(const Cabinet&) = delete;

  // Reads header, folders and files. Codes as ReadHeader, plus
  // Status::kAllocFail.
  Status Load();

  InputStream& Stream() { return stream_; }
  const CabinetHeader& Header() const { return header_; }
  const FolderEntry& Folder(uint32_t i) const { return folders_[i]; }
  const FileEntry& File(uint32_t i) const { return files_[i]; }
  char* FileName(uint32_t i) { return reinterpret_cast<char*>(names_.Data()) + files_[i].nameOffset; }
  // The position just after the last file entry.
  uint32_t FilesEnd() const { return filesEnd_; }
  // True when the first folder carries on a folder of the previous cabinet.
  bool FirstFolderContinued() const;

 private:
  Status LoadFolders();
  Status LoadFiles();

  Memory& mem_;
  FileCallbacks io_;
  InputStream stream_;
  CabinetHeader header_{};
  FolderEntry* folders_ = nullptr;
  FileEntry* files_ = nullptr;
  Bytes names_;
  uint32_t filesEnd_ = 0;
};

}  // namespace cab
