// A writer of hostile packages for the reader's tests: cabinets assembled
// from raw bytes, so that they may hold what the builder refuses to write
// (names that leave a folder, entries that overlap, sizes that lie), put
// into a Setup.exe by `veltra-pack assemble`.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pack_test_util.h"
#include "setupscript.h"

namespace hostile {

struct File {
  std::string name;  // stored as it is, whatever it holds
  uint32_t size = 0;
  uint32_t offset = 0;  // in the folder
  uint16_t attributes = 0x20;
};

struct Folder {
  bool mszip = false;
  std::vector<std::string> blocks;  // each block's stored bytes (a "CK" block for MSZIP)
  std::vector<uint16_t> expanded;   // each block's expanded size
};

inline void Le(std::string& b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b += char(v >> (8 * i));
}

// A folder of stored blocks holding `data`.
inline Folder StoredFolder(const std::string& data) {
  Folder f;
  for (size_t at = 0; at < data.size() || f.blocks.empty(); at += 32768) {
    f.blocks.push_back(data.substr(at, 32768));
    f.expanded.push_back(uint16_t(f.blocks.back().size()));
  }
  return f;
}

// An MSZIP folder of `blocks` blocks of 32 KiB of zeros each: a few bytes
// per block, so that a small file expands to a large folder.
inline Folder ZeroFolder(size_t blocks) {
  const std::string zeros(32768, '\0');
  std::string packed(1024, '\0');
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
  z.avail_in = uInt(zeros.size());
  z.next_out = reinterpret_cast<Bytef*>(&packed[0]);
  z.avail_out = uInt(packed.size());
  deflate(&z, Z_FINISH);
  packed.resize(z.total_out);
  deflateEnd(&z);
  Folder f;
  f.mszip = true;
  f.blocks.assign(blocks, "CK" + packed);
  f.expanded.assign(blocks, 32768);
  return f;
}

// One cabinet with one folder and the files as given (no checks at all).
inline std::string Cabinet(const std::vector<File>& files, const Folder& folder) {
  std::string table;
  for (const File& f : files) {
    Le(table, f.size, 4);
    Le(table, f.offset, 4);
    Le(table, 0, 2);       // folder 0
    Le(table, 0x5821, 2);  // 2024-01-01
    Le(table, 0, 2);
    Le(table, f.attributes, 2);
    table += f.name + '\0';
  }
  const uint32_t filesAt = 36 + 8;
  const uint32_t dataAt = filesAt + uint32_t(table.size());
  std::string data;
  for (size_t i = 0; i < folder.blocks.size(); ++i) {
    Le(data, 0, 4);  // no checksum
    Le(data, uint32_t(folder.blocks[i].size()), 2);
    Le(data, folder.expanded[i], 2);
    data += folder.blocks[i];
  }
  std::string cab = "MSCF";
  Le(cab, 0, 4);
  Le(cab, dataAt + uint32_t(data.size()), 4);
  Le(cab, 0, 4);
  Le(cab, filesAt, 4);
  Le(cab, 0, 4);
  cab += "\x03\x01";
  Le(cab, 1, 2);  // folders
  Le(cab, uint32_t(files.size()), 2);
  Le(cab, 0, 2);  // flags
  Le(cab, 0x1234, 2);
  Le(cab, 0, 2);
  Le(cab, dataAt, 4);
  Le(cab, uint32_t(folder.blocks.size()), 2);
  Le(cab, folder.mszip ? 1 : 0, 2);
  return cab + table + data;
}

// Files with the given names and contents, stored one after another.
inline std::string CabinetOf(const std::vector<std::pair<std::string, std::string>>& contents) {
  std::vector<File> files;
  std::string data;
  for (const auto& c : contents) {
    files.push_back(File{c.first, uint32_t(c.second.size()), uint32_t(data.size())});
    data += c.second;
  }
  return Cabinet(files, StoredFolder(data));
}

// An information cabinet with a setup script the readers accept.
inline std::string InfoCabinet() {
  SetupScript script;
  script.AppName = "Hostile";
  std::string bytes, error;
  WriteSetupScript(script, bytes, error);
  return CabinetOf({{"~DAT1.", bytes}});
}

// Writes Setup.exe in `dir` (a packtest::ProjectDir) around the two
// cabinets; true when veltra-pack assembled it.
inline bool Package(const packtest::ProjectDir& dir, const std::string& info, const std::string& payload,
                    const std::string& out = "Setup.exe") {
  dir.Write("hostile-info.cab", info);
  dir.Write("hostile-payload.cab", payload);
  std::string log;
  const bool ok = packtest::RunPack(
                      "assemble --stub stub.exe --info hostile-info.cab --payload "
                      "hostile-payload.cab --out '" +
                          out + "'",
                      log, dir.Path()) == 0;
  std::remove(dir.File("hostile-info.cab").c_str());
  std::remove(dir.File("hostile-payload.cab").c_str());
  return ok;
}

}  // namespace hostile
