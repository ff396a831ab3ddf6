// Reads what the builder needs from the header of an existing cabinet: the
// set it belongs to, its neighbours' names and its file list. Used when a
// project gives a finished cabinet (or set) as the payload.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct CabHeaderSummary {
  uint32_t cabinetSize = 0;
  uint16_t setId = 0, index = 0;
  std::string prevName, nextName, nextDisk;
  struct File {
    std::string name;
    uint32_t size = 0;
    uint16_t folderIndex = 0;
  };
  std::vector<File> files;
};

// False, with `error`, when the file holds no readable cabinet header.
bool ReadCabHeaderSummary(const std::string& path, CabHeaderSummary& summary, std::string& error);

struct CabSetSummary {
  std::vector<std::string> volumePaths;  // the given cabinet first
  std::vector<std::string> volumeNames;  // the names the set stores for volumes 2, 3, ...
  uint64_t fileCount = 0;
  uint64_t uncompressedBytes = 0;  // each file counted once
  std::vector<std::string> fileNames;
};

// Follows a cabinet's set through the files beside it: each volume must
// exist, belong to the same set and carry the next index. The first must not
// continue an earlier one.
bool ReadCabSet(const std::string& firstPath, CabSetSummary& set, std::string& error);
