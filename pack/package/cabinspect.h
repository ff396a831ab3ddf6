// Reads what the builder needs from the header of an existing cabinet: the
// set it belongs to, its neighbours' names and its file list. Used when a
// project gives a finished cabinet (or set) as the payload.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct CabHeaderSummary {
  uint32_t cabinetSize = 0;
  uint16_t setId = 0, index = 0, folderCount = 0;
  std::string prevName, nextName, nextDisk;
  struct File {
    std::string name;
    uint32_t size = 0;
    uint32_t folderOffset = 0;
    uint16_t folderIndex = 0;
  };
  std::vector<File> files;
};

// False, with `error`, when the file holds no readable cabinet header. Every
// size and offset the header declares is checked against the file before
// anything is read or allocated for it.
bool ReadCabHeaderSummary(const std::string& path, CabHeaderSummary& summary, std::string& error);

// The same for a cabinet that is not a file of its own: `read` gives up to
// `limit` bytes from the cabinet's start (fewer at its end), `available` is
// how many there are at most, `shown` names it in errors.
using CabHeadReader = std::function<bool(size_t limit, std::string& bytes)>;
bool ReadCabHeaderSummary(const CabHeadReader& read, uint64_t available, const std::string& shown,
                          CabHeaderSummary& summary, std::string& error);

// Empty when the entries of each folder follow one another without overlap,
// so that a reader decodes each folder once; otherwise the first offender.
std::string CheckFileOrder(const CabHeaderSummary& summary);

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
