// The cabinet writer's file access on the host (cab::WriterFiles): reading
// entry sources in chunks and writing one volume, whose header is only known
// when its data is done.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cabinet_writer.h"

// The host's files, for cab::WriteCabinet and cab::WriteCabinetSet.
cab::WriterFiles& HostCabinetFiles();

// Reads one entry's bytes in chunks, from its file or its in-memory content,
// and checks that a file still has the size it had when it was planned.
class CabSourceReader final : public cab::EntryReader {
 public:
  CabSourceReader() = default;
  ~CabSourceReader() override;
  CabSourceReader(const CabSourceReader&) = delete;
  CabSourceReader& operator=(const CabSourceReader&) = delete;

  bool Open(const cab::Entry& entry, uint64_t expectedSize, std::string& error);
  // Reads up to `limit` next bytes into `out`; 0 at the end. -1 on failure.
  long Read(uint8_t* out, size_t limit, std::string& error) override;
  bool Skip(uint64_t count, std::string& error) override;

 private:
  void Close();
  const cab::Entry* entry_ = nullptr;
  FILE* file_ = nullptr;
  uint64_t expected_ = 0;
  uint64_t done_ = 0;
};

// The size of the file at `path`, false when it is no readable regular file.
bool CabSourceSize(const std::string& path, uint64_t& size);

// One volume file. With a known header size the data goes straight into the
// file behind room left for the header, which is filled in at the end;
// otherwise the data goes to a spool file beside it and the volume is
// assembled from header and spool when it is finished.
class CabVolumeOutput final : public cab::VolumeOutput {
 public:
  CabVolumeOutput() = default;
  ~CabVolumeOutput() override;
  CabVolumeOutput(const CabVolumeOutput&) = delete;
  CabVolumeOutput& operator=(const CabVolumeOutput&) = delete;

  bool Open(const std::string& path, size_t headerSize, std::string& error);
  bool Write(const void* data, size_t size, std::string& error) override;
  uint64_t DataSize() const override { return dataSize_; }
  // Puts the header in front of the data and closes the volume.
  bool Finish(const std::vector<uint8_t>& header, std::string& error) override;
  // Closes and deletes whatever this volume wrote.
  void Abandon() override;

 private:
  bool CopySpoolAfter(FILE* target, std::string& error);
  std::string path_;
  std::string spoolPath_;
  FILE* file_ = nullptr;
  // stdio buffers of our own: given none, glibc ignores the size asked for
  // and writes in 4 KiB pieces
  std::vector<char> buffer_, targetBuffer_;
  size_t headerSize_ = kUnknownHeader;
  uint64_t dataSize_ = 0;
};
