// Test helpers for the cabinet writer: temporary folders, files, the peer
// tools, and a small independent reader of the cabinet layout that checks
// every data block's checksum while it walks the folders.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "byteorder.h"
#include "cabinet_writer.h"
#include "cabio.h"

namespace cabtest {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/cabtest.XXXXXX";
    path_ = mkdtemp(tmpl) ? tmpl : "/tmp";
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Runs a shell command, its output going to `log`; true on exit code 0.
inline bool RunTool(const std::string& command, const std::string& log) {
  return std::system(("(" + command + ") >'" + log + "' 2>&1").c_str()) == 0;
}

inline std::string HostPath(std::string stored) {
  for (char& c : stored) c = c == '\\' ? '/' : c;
  return stored;
}

inline std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = char(rng());
  return s;
}

inline std::string SomeText(size_t n, uint32_t seed) {
  static const char* words[] = {"cabinet", "setup", "the", "file", "volume", "folder", "\r\n", "0123"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) s += std::string(words[rng() % 8]) + ' ';
  return s.substr(0, n);
}

inline cab::Entry Entry(const std::string& name, const std::string& bytes, cab::DosStamp stamp = {},
                        uint16_t attributes = cab::kAttrArchive) {
  return cab::Entry{name, "", bytes, stamp, attributes};
}

// --- an independent reader of what the writer produced -----------------------

struct ParsedBlock {
  uint16_t cbData = 0, cbUncomp = 0;
};
struct ParsedFolder {
  uint32_t offset = 0;
  uint16_t blockCount = 0, type = 0;
  std::vector<ParsedBlock> blocks;
};
struct ParsedFile {
  uint32_t size = 0, folderOffset = 0;
  uint16_t folderIndex = 0, date = 0, time = 0, attributes = 0;
  std::string name;
};

struct ParsedCabinet {
  uint32_t cabinetSize = 0, fileSize = 0;
  uint16_t flags = 0, setId = 0, index = 0;
  size_t folderReserve = 0, dataReserve = 0;  // reserved areas (peer cabinets only)
  std::string prevCabinet, prevDisk, nextCabinet, nextDisk;
  std::vector<ParsedFolder> folders;
  std::vector<ParsedFile> files;
  std::string error;  // empty when the layout and every checksum are sound
};

inline uint32_t Le(const std::string& b, size_t at, int n) {
  const auto* p = reinterpret_cast<const uint8_t*>(b.data() + at);
  return n == 2 ? ReadLe16(p) : ReadLe32(p);
}

// The checksum as the format defines it, written out independently here.
inline uint32_t Checksum(const std::string& b, size_t at, size_t n, uint32_t sum) {
  size_t i = 0;
  for (; i + 4 <= n; i += 4) sum ^= Le(b, at + i, 4);
  uint32_t rest = 0;
  for (; i < n; ++i) rest = (rest << 8) | uint8_t(b[at + i]);
  return sum ^ rest;
}

inline bool ReadText(const std::string& b, size_t& at, std::string& out) {
  size_t end = b.find('\0', at);
  if (end == std::string::npos) return false;
  out = b.substr(at, end - at);
  at = end + 1;
  return true;
}

// Reads a folder's blocks, which must start at `at`; leaves `at` behind them.
inline std::string ReadBlocks(const std::string& b, ParsedFolder& folder, size_t reserve, size_t& at) {
  if (folder.offset != at) return "folder data does not follow what came before";
  for (int k = 0; k < folder.blockCount; ++k) {
    size_t data = at + 8 + reserve;
    if (data > b.size()) return "data block header past the end";
    ParsedBlock block{uint16_t(Le(b, at + 4, 2)), uint16_t(Le(b, at + 6, 2))};
    if (data + block.cbData > b.size()) return "data block past the end";
    uint32_t sum = Checksum(b, at + 4, 4, Checksum(b, data, block.cbData, 0));
    if (Le(b, at, 4) != 0 && sum != Le(b, at, 4)) return "bad data block checksum";
    folder.blocks.push_back(block);
    at = data + block.cbData;
  }
  return "";
}

inline ParsedCabinet ParseCabinet(const std::string& b) {
  ParsedCabinet c;
  c.fileSize = uint32_t(b.size());
  if (b.size() < 36 || b.compare(0, 4, "MSCF") != 0 || b[24] != 3 || b[25] != 1)
    return c.error = "no cabinet 1.3 header", c;
  c.cabinetSize = Le(b, 8, 4);
  size_t coffFiles = Le(b, 16, 4), folders = Le(b, 26, 2), files = Le(b, 28, 2), at = 36;
  c.flags = uint16_t(Le(b, 30, 2));
  c.setId = uint16_t(Le(b, 32, 2));
  c.index = uint16_t(Le(b, 34, 2));
  if (c.flags & 4) {
    at = 40 + Le(b, 36, 2);
    c.folderReserve = uint8_t(b[38]);
    c.dataReserve = uint8_t(b[39]);
  }
  bool namesOk = (!(c.flags & 1) || (ReadText(b, at, c.prevCabinet) && ReadText(b, at, c.prevDisk))) &&
                 (!(c.flags & 2) || (ReadText(b, at, c.nextCabinet) && ReadText(b, at, c.nextDisk)));
  if (!namesOk || at + folders * (8 + c.folderReserve) > b.size()) return c.error = "bad names or folders", c;
  for (size_t i = 0; i < folders; ++i, at += 8 + c.folderReserve)
    c.folders.push_back({Le(b, at, 4), uint16_t(Le(b, at + 4, 2)), uint16_t(Le(b, at + 6, 2)), {}});
  if (at != coffFiles) return c.error = "coffFiles does not follow the folders", c;
  for (size_t i = 0; i < files; ++i) {
    if (at + 16 > b.size()) return c.error = "files past the end", c;
    ParsedFile f{Le(b, at, 4),
                 Le(b, at + 4, 4),
                 uint16_t(Le(b, at + 8, 2)),
                 uint16_t(Le(b, at + 10, 2)),
                 uint16_t(Le(b, at + 12, 2)),
                 uint16_t(Le(b, at + 14, 2)),
                 ""};
    at += 16;
    if (!ReadText(b, at, f.name)) return c.error = "unterminated file name", c;
    c.files.push_back(f);
  }
  for (ParsedFolder& f : c.folders)
    if (!(c.error = ReadBlocks(b, f, c.dataReserve, at)).empty()) return c;
  if (at != b.size() || c.cabinetSize != b.size()) c.error = "cbCabinet, data and file size disagree";
  return c;
}

inline ParsedCabinet ParseCabinetFile(const std::string& path) { return ParseCabinet(ReadFile(path)); }

}  // namespace cabtest
