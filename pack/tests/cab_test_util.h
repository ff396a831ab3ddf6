// Test helpers for the cabinet writer: temporary folders, files, running the
// third-party tools, and a small independent reader of the cabinet layout that
// checks every data block's checksum while it walks the folders.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace cabtest {

using Bytes = std::vector<uint8_t>;

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/cabtest.XXXXXX";
    const char* made = mkdtemp(tmpl);
    path_ = made ? made : "/tmp";
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

inline bool HaveTool(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command with its output going to `log`; true on exit code 0.
inline bool RunTool(const std::string& command, const std::string& log) {
  return std::system((command + " >'" + log + "' 2>&1").c_str()) == 0;
}

inline std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = char(rng());
  return s;
}

inline std::string SomeText(size_t n, uint32_t seed) {
  static const char* words[] = {"cabinet", "setup", "the", "file", "volume", "folder", "Windows",
                                "extract", "of", "and", "package", "\r\n", "0123", "data"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    s += words[rng() % 14];
    s += ' ';
  }
  s.resize(n);
  return s;
}

// --- an independent reader of what the writer produced -----------------------

struct ParsedBlock {
  uint16_t cbData = 0;
  uint16_t cbUncomp = 0;
};

struct ParsedFolder {
  uint32_t offset = 0;
  uint16_t blockCount = 0;
  uint16_t type = 0;
  std::vector<ParsedBlock> blocks;
};

struct ParsedFile {
  uint32_t size = 0;
  uint32_t folderOffset = 0;
  uint16_t folderIndex = 0;
  uint16_t date = 0, time = 0, attributes = 0;
  std::string name;
};

struct ParsedCabinet {
  uint32_t cabinetSize = 0;
  size_t folderReserve = 0, dataReserve = 0;  // reserved areas (peer cabinets only)
  uint32_t fileSize = 0;
  uint16_t flags = 0, setId = 0, index = 0;
  std::string prevCabinet, prevDisk, nextCabinet, nextDisk;
  std::vector<ParsedFolder> folders;
  std::vector<ParsedFile> files;
  std::string error;  // empty when the layout and every checksum are sound
};

inline uint32_t Le(const std::string& b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v |= uint32_t(uint8_t(b[at + i])) << (8 * i);
  return v;
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
inline bool ReadBlocks(const std::string& b, ParsedFolder& folder, size_t reserve, size_t& at,
                       std::string& error) {
  if (folder.offset != at) return (error = "folder data does not follow what came before"), false;
  for (int k = 0; k < folder.blockCount; ++k) {
    size_t data = at + 8 + reserve;
    if (data > b.size()) return (error = "data block header past the end"), false;
    ParsedBlock block{uint16_t(Le(b, at + 4, 2)), uint16_t(Le(b, at + 6, 2))};
    if (data + block.cbData > b.size()) return (error = "data block past the end"), false;
    uint32_t sum = Checksum(b, at + 4, 4, Checksum(b, data, block.cbData, 0));
    if (Le(b, at, 4) != 0 && sum != Le(b, at, 4)) return (error = "bad data block checksum"), false;
    folder.blocks.push_back(block);
    at = data + block.cbData;
  }
  return true;
}

inline ParsedCabinet ParseCabinet(const std::string& b) {
  ParsedCabinet c;
  c.fileSize = uint32_t(b.size());
  if (b.size() < 36 || b.compare(0, 4, "MSCF") != 0) return (c.error = "no cabinet header"), c;
  c.cabinetSize = Le(b, 8, 4);
  size_t coffFiles = Le(b, 16, 4), folders = Le(b, 26, 2), files = Le(b, 28, 2);
  c.flags = uint16_t(Le(b, 30, 2));
  c.setId = uint16_t(Le(b, 32, 2));
  c.index = uint16_t(Le(b, 34, 2));
  if (b[24] != 3 || b[25] != 1) return (c.error = "not version 1.3"), c;
  if (c.flags & ~7u) return (c.error = "unexpected header flags"), c;
  size_t at = 36;
  if (c.flags & 4) {
    if (b.size() < 40) return (c.error = "no reserve sizes"), c;
    at = 40 + Le(b, 36, 2);
    c.folderReserve = uint8_t(b[38]);
    c.dataReserve = uint8_t(b[39]);
  }
  if ((c.flags & 1) && !(ReadText(b, at, c.prevCabinet) && ReadText(b, at, c.prevDisk)))
    return (c.error = "bad previous names"), c;
  if ((c.flags & 2) && !(ReadText(b, at, c.nextCabinet) && ReadText(b, at, c.nextDisk)))
    return (c.error = "bad next names"), c;
  for (size_t i = 0; i < folders; ++i, at += 8 + c.folderReserve) {
    if (at + 8 > b.size()) return (c.error = "folders past the end"), c;
    c.folders.push_back({Le(b, at, 4), uint16_t(Le(b, at + 4, 2)), uint16_t(Le(b, at + 6, 2)), {}});
  }
  if (at != coffFiles) return (c.error = "coffFiles does not follow the folders"), c;
  for (size_t i = 0; i < files; ++i) {
    if (at + 16 > b.size()) return (c.error = "files past the end"), c;
    ParsedFile f{Le(b, at, 4), Le(b, at + 4, 4), uint16_t(Le(b, at + 8, 2)),
                 uint16_t(Le(b, at + 10, 2)), uint16_t(Le(b, at + 12, 2)),
                 uint16_t(Le(b, at + 14, 2)), ""};
    at += 16;
    if (!ReadText(b, at, f.name)) return (c.error = "unterminated file name"), c;
    c.files.push_back(f);
  }
  for (ParsedFolder& f : c.folders)
    if (!ReadBlocks(b, f, c.dataReserve, at, c.error)) return c;
  if (at != b.size()) c.error = "bytes after the last data block";
  if (c.cabinetSize != b.size()) c.error = "cbCabinet differs from the file size";
  return c;
}

inline ParsedCabinet ParseCabinetFile(const std::string& path) { return ParseCabinet(ReadFile(path)); }

}  // namespace cabtest
