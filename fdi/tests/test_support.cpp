#include "test_support.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include <zlib.h>

#include "cabchecksum.h"

namespace fdt {

FdiApi linkedApi();  // test_linked_api.cpp, or the DLL loader

namespace {

MemoryFs g_fs;

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::map<std::string, Blob>::iterator findFile(const std::string& name) {
  for (auto it = g_fs.files.begin(); it != g_fs.files.end(); ++it)
    if (lower(it->first) == lower(name)) return it;
  return g_fs.files.end();
}

MemoryFs::Open* handleOf(intptr_t hf) {
  if (hf < 1 || size_t(hf) > g_fs.handles.size()) return nullptr;
  MemoryFs::Open& o = g_fs.handles[size_t(hf) - 1];
  return o.open ? &o : nullptr;
}

void* FDIAPI memAlloc(unsigned long cb) {
  if (g_fs.allocationLimit == 0) return nullptr;
  if (g_fs.allocationLimit > 0) --g_fs.allocationLimit;
  ++g_fs.allocations;
  return std::malloc(cb);
}

void FDIAPI memFree(void* pv) {
  if (!pv) return;
  --g_fs.allocations;
  std::free(pv);
}

intptr_t FDIAPI fileOpen(char* name, int oflag, int) {
  g_fs.openedNames.push_back(name);
  std::string key = name;
  if (oflag & 0x0100) {
    g_fs.files[key].clear();
  } else {
    auto it = findFile(key);
    if (it == g_fs.files.end()) return -1;
    key = it->first;
  }
  MemoryFs::Open o;
  o.name = key;
  o.writable = (oflag & 0x0100) != 0;
  o.open = true;
  g_fs.handles.push_back(o);
  ++g_fs.opens;
  return intptr_t(g_fs.handles.size());
}

unsigned int FDIAPI fileRead(intptr_t hf, void* pv, unsigned int cb) {
  MemoryFs::Open* o = handleOf(hf);
  if (!o) return static_cast<unsigned int>(-1);
  const Blob& data = g_fs.files[o->name];
  size_t n = o->pos >= data.size() ? 0 : std::min<size_t>(cb, data.size() - o->pos);
  if (n) std::memcpy(pv, data.data() + o->pos, n);
  o->pos += n;
  return unsigned(n);
}

unsigned int FDIAPI fileWrite(intptr_t hf, void* pv, unsigned int cb) {
  MemoryFs::Open* o = handleOf(hf);
  if (!o) return static_cast<unsigned int>(-1);
  unsigned int n = cb;
  if (g_fs.writeLimit >= 0) {
    n = unsigned(std::min<long>(cb, g_fs.writeLimit));
    g_fs.writeLimit -= n;
  }
  Blob& data = g_fs.files[o->name];
  if (data.size() < o->pos + n) data.resize(o->pos + n);
  if (n) std::memcpy(data.data() + o->pos, pv, n);
  o->pos += n;
  return n;
}

int FDIAPI fileClose(intptr_t hf) {
  MemoryFs::Open* o = handleOf(hf);
  if (!o) return -1;
  o->open = false;
  ++g_fs.closes;
  return 0;
}

long FDIAPI fileSeek(intptr_t hf, long dist, int type) {
  MemoryFs::Open* o = handleOf(hf);
  if (!o) return -1;
  long base = type == 0 ? 0 : type == 1 ? long(o->pos) : long(g_fs.files[o->name].size());
  if (base + dist < 0) return -1;
  o->pos = size_t(base + dist);
  return long(o->pos);
}

Event eventOf(int type, PFDINOTIFICATION n) {
  Event e;
  e.type = type;
  e.psz1 = n->psz1 ? n->psz1 : "";
  e.psz2 = n->psz2 ? n->psz2 : "";
  e.psz3 = n->psz3 ? n->psz3 : "";
  e.cb = n->cb;
  e.date = n->date;
  e.time = n->time;
  e.attribs = n->attribs;
  e.setID = n->setID;
  e.iCabinet = n->iCabinet;
  e.iFolder = n->iFolder;
  e.fdie = n->fdie;
  e.hf = n->hf;
  return e;
}

}  // namespace

MemoryFs& fs() { return g_fs; }

void resetFs() { g_fs = MemoryFs(); }

void addFile(const std::string& name, const Blob& data) { g_fs.files[name] = data; }

Blob readTestFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Blob(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<PeerExpected> loadPeerExpected(const std::string& peerDir) {
  std::ifstream in(peerDir + "/EXPECTED.txt");
  std::vector<PeerExpected> all;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("== ", 0) == 0) {
      all.push_back({line.substr(3), {}});
      continue;
    }
    std::istringstream words(line);
    std::string name, ok, md5;
    if (line.rfind("  ", 0) == 0 && !all.empty() && (words >> name >> ok >> md5) && ok == "OK")
      all.back().files.push_back({name, md5});
  }
  return all;
}

void loadPeerCabinets(const std::string& peerDir) {
  static const char* const names[] = {"bad_nofiles.cab",
                                      "bad_signature.cab",
                                      "cabd_multi_basic_pt1.cab",
                                      "cabd_multi_basic_pt2.cab",
                                      "cabd_multi_basic_pt3.cab",
                                      "cabd_multi_basic_pt4.cab",
                                      "cabd_multi_basic_pt5.cab",
                                      "mixed.cab",
                                      "mszip_lzx_qtm.cab",
                                      "normal_2files_1folder.cab",
                                      "normal_2files_2folders.cab",
                                      "partial_shortheader.cab",
                                      "reserve_---.cab",
                                      "reserve_--D.cab",
                                      "reserve_-F-.cab",
                                      "reserve_-FD.cab",
                                      "reserve_H--.cab",
                                      "reserve_H-D.cab",
                                      "reserve_HF-.cab",
                                      "reserve_HFD.cab",
                                      "simple.cab",
                                      "split-1.cab",
                                      "split-2.cab",
                                      "split-3.cab",
                                      "split-4.cab",
                                      "split-5.cab"};
  resetFs();
  for (const char* n : names) addFile(n, readTestFile(peerDir + "/" + n));
}

FdiApi& api() {
  static FdiApi entryPoints = linkedApi();
  return entryPoints;
}

HFDI createContext(ERF& erf) {
  return api().create(memAlloc, memFree, fileOpen, fileRead, fileWrite, fileClose, fileSeek, cpuUNKNOWN,
                      &erf);
}

const char* callbackName(Callback c) {
  static const char* const names[] = {"alloc", "free", "open", "read", "write", "close", "seek", "none"};
  return names[int(c)];
}

HFDI createContextWithout(ERF& erf, Callback missing) {
  auto pick = [missing](Callback c, auto fn) { return c == missing ? nullptr : fn; };
  return api().create(pick(Callback::kAlloc, memAlloc), pick(Callback::kFree, memFree),
                      pick(Callback::kOpen, fileOpen), pick(Callback::kRead, fileRead),
                      pick(Callback::kWrite, fileWrite), pick(Callback::kClose, fileClose),
                      pick(Callback::kSeek, fileSeek), cpuUNKNOWN, &erf);
}

intptr_t openForRead(const std::string& name) {
  std::string copy = name;
  return fileOpen(&copy[0], 0, 0);
}

void closeHandle(intptr_t hf) { fileClose(hf); }

int openHandleCount() {
  int n = 0;
  for (const MemoryFs::Open& o : g_fs.handles) n += o.open ? 1 : 0;
  return n;
}

int Handler::count(int type) const {
  return int(std::count_if(events.begin(), events.end(), [type](const Event& e) { return e.type == type; }));
}

intptr_t FDIAPI notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION n) {
  Handler& h = *static_cast<Handler*>(n->pv);
  h.events.push_back(eventOf(type, n));
  Event& e = h.events.back();
  switch (type) {
    case fdintCOPY_FILE: {
      if (h.onCopy) return h.onCopy(e, n);
      std::string target = "out/" + e.psz1;
      intptr_t hf = fileOpen(&target[0], 0x0100 | 0x8000 | 0x0002, 0);
      h.targets[hf] = e.psz1;
      return hf;
    }
    case fdintCLOSE_FILE_INFO: {
      MemoryFs::Open* o = handleOf(n->hf);
      if (o) h.extracted[e.psz1] = g_fs.files[o->name];
      fileClose(n->hf);
      return h.onClose ? h.onClose(e, n) : 1;
    }
    case fdintNEXT_CABINET: h.lastRequestedVolume = e.psz3 + e.psz1; return h.onNext ? h.onNext(e, n) : 0;
    case fdintENUMERATE: return h.onEnumerate ? h.onEnumerate(e, n) : 0;
    case fdintCABINET_INFO: return h.onCabinetInfo ? h.onCabinetInfo(e, n) : 0;
    default: return 0;
  }
}

bool copySet(HFDI hfdi, const std::string& name, Handler& h, int maxRuns) {
  std::string cab = name;
  bool ok = false;
  for (int run = 0; run < maxRuns; ++run) {
    h.lastRequestedVolume.clear();
    std::string copy = cab;
    char empty[1] = {0};
    ok = api().copy(hfdi, &copy[0], empty, 0, notify, nullptr, &h) != 0;
    if (h.lastRequestedVolume.empty()) break;
    cab = h.lastRequestedVolume;
  }
  return ok;
}

// RFC 1321.
std::string md5Hex(const Blob& data) {
  static const uint32_t k[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
      0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
      0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
      0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
      0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
      0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
      0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
  static const int r[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
  Blob m = data;
  uint64_t bits = uint64_t(data.size()) * 8;
  m.push_back(0x80);
  while (m.size() % 64 != 56) m.push_back(0);
  for (int i = 0; i < 8; ++i) m.push_back(uint8_t(bits >> (8 * i)));
  uint32_t h0 = 0x67452301, h1 = 0xefcdab89, h2 = 0x98badcfe, h3 = 0x10325476;
  for (size_t off = 0; off < m.size(); off += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = ReadLe32(&m[off + 4 * i]);
    uint32_t a = h0, b = h1, c = h2, d = h3;
    for (int i = 0; i < 64; ++i) {
      uint32_t f;
      int g;
      if (i < 16) {
        f = (b & c) | (~b & d);
        g = i;
      } else if (i < 32) {
        f = (d & b) | (~d & c);
        g = (5 * i + 1) % 16;
      } else if (i < 48) {
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
      } else {
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
      }
      uint32_t t = d;
      d = c;
      c = b;
      uint32_t x = a + f + k[i] + w[g];
      b = b + ((x << r[i]) | (x >> (32 - r[i])));
      a = t;
    }
    h0 += a;
    h1 += b;
    h2 += c;
    h3 += d;
  }
  char out[33];
  uint32_t hs[4] = {h0, h1, h2, h3};
  for (int i = 0; i < 16; ++i) std::snprintf(out + 2 * i, 3, "%02x", (hs[i / 4] >> (8 * (i % 4))) & 0xff);
  return out;
}

Blob patternData(size_t size, uint32_t seed) {
  Blob b(size);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    // Half text-like runs, half noise, so that both methods have work.
    b[i] = (i / 4096) % 2 ? uint8_t(x >> 24) : uint8_t("the quick brown fox "[(i + (x >> 28)) % 20]);
  }
  return b;
}

namespace {

void append(Blob& b, const std::string& s) {
  b.insert(b.end(), s.begin(), s.end());
  b.push_back(0);
}

Blob mszipBlock(const uint8_t* p, size_t n, const Blob& history) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  if (!history.empty()) deflateSetDictionary(&z, history.data(), uInt(history.size()));
  Blob out(n + n / 8 + 64);
  out[0] = 'C';
  out[1] = 'K';
  z.next_in = const_cast<Bytef*>(p);
  z.avail_in = uInt(n);
  z.next_out = out.data() + 2;
  z.avail_out = uInt(out.size() - 2);
  deflate(&z, Z_FINISH);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

// The data blocks of one folder.
Blob folderBlocks(const CabSpec& spec, const Blob& data, uint16_t type, uint16_t& count) {
  Blob out;
  Blob history;
  count = 0;
  for (size_t off = 0; off < data.size() || count == 0; off += spec.blockSize) {
    size_t n = std::min<size_t>(spec.blockSize, data.size() - off);
    Blob payload = type == 1 ? mszipBlock(data.data() + off, n, history)
                             : Blob(data.begin() + off, data.begin() + off + n);
    if (type == 1) {
      history.insert(history.end(), data.begin() + off, data.begin() + off + n);
      if (history.size() > 32768) history.erase(history.begin(), history.end() - 32768);
    }
    size_t at = out.size();
    out.resize(at + 8 + spec.dataReserve);
    WriteLe16(out.data() + at + 4, uint16_t(payload.size()));
    WriteLe16(out.data() + at + 6, uint16_t(n));
    if (spec.checksums)
      WriteLe32(out.data() + at,
                CabChecksum(&out[at + 4], 4, CabChecksum(payload.data(), payload.size(), 0)));
    out.insert(out.end(), payload.begin(), payload.end());
    ++count;
    if (n == 0) break;
  }
  return out;
}

}  // namespace

Blob buildCab(const CabSpec& spec) {
  uint16_t flags = 0;
  if (!spec.prevName.empty()) flags |= 1;
  if (!spec.nextName.empty()) flags |= 2;
  bool reserve = spec.headerReserve || spec.folderReserve || spec.dataReserve;
  if (reserve) flags |= 4;
  Blob head(36);
  std::memcpy(head.data(), "MSCF", 4);
  head[24] = 3;
  head[25] = 1;
  WriteLe16(head.data() + 26, uint16_t(spec.folderTypes.size()));
  WriteLe16(head.data() + 28, uint16_t(spec.files.size()));
  WriteLe16(head.data() + 30, flags);
  WriteLe16(head.data() + 32, spec.setId);
  WriteLe16(head.data() + 34, spec.index);
  if (reserve) {
    Blob r(4 + spec.headerReserve, 0xAB);
    WriteLe16(r.data() + 0, spec.headerReserve);
    r[2] = spec.folderReserve;
    r[3] = spec.dataReserve;
    head.insert(head.end(), r.begin(), r.end());
  }
  if (flags & 1) {
    append(head, spec.prevName);
    append(head, spec.prevDisk);
  }
  if (flags & 2) {
    append(head, spec.nextName);
    append(head, spec.nextDisk);
  }
  size_t foldersAt = head.size();
  head.resize(foldersAt + spec.folderTypes.size() * (8 + spec.folderReserve), 0xCD);
  WriteLe32(head.data() + 16, uint32_t(head.size()));
  std::vector<Blob> folderData(spec.folderTypes.size());
  for (const CabSpecFile& f : spec.files) {
    size_t at = head.size();
    head.resize(at + 16);
    WriteLe32(head.data() + at, uint32_t(f.data.size()));
    WriteLe32(head.data() + at + 4, uint32_t(folderData[f.folder].size()));
    WriteLe16(head.data() + at + 8, f.folderIndexOverride ? f.folderIndexOverride : f.folder);
    WriteLe16(head.data() + at + 10, 0x226c);
    WriteLe16(head.data() + at + 12, 0x59ba);
    WriteLe16(head.data() + at + 14, f.attribs);
    append(head, f.name);
    folderData[f.folder].insert(folderData[f.folder].end(), f.data.begin(), f.data.end());
  }
  Blob cab = head;
  for (size_t i = 0; i < spec.folderTypes.size(); ++i) {
    uint16_t count = 0;
    Blob blocks;
    if (i < spec.rawBlocks.size() && !spec.rawBlocks[i].empty()) {
      for (const auto& b : spec.rawBlocks[i]) {
        size_t at = blocks.size();
        blocks.resize(at + 8 + spec.dataReserve);
        WriteLe16(blocks.data() + at + 4, uint16_t(b.first.size()));
        WriteLe16(blocks.data() + at + 6, b.second);
        if (spec.checksums)
          WriteLe32(blocks.data() + at,
                    CabChecksum(&blocks[at + 4], 4, CabChecksum(b.first.data(), b.first.size(), 0)));
        blocks.insert(blocks.end(), b.first.begin(), b.first.end());
        ++count;
      }
    } else {
      blocks = folderBlocks(spec, folderData[i], spec.folderTypes[i], count);
    }
    size_t entry = foldersAt + i * (8 + spec.folderReserve);
    WriteLe32(cab.data() + entry, uint32_t(cab.size()));
    WriteLe16(cab.data() + entry + 4, count);
    WriteLe16(cab.data() + entry + 6, spec.folderTypes[i]);
    cab.insert(cab.end(), blocks.begin(), blocks.end());
  }
  WriteLe32(cab.data() + 8, uint32_t(cab.size()));
  return cab;
}

Blob emptyCab() {
  CabSpec spec;
  spec.folderTypes.clear();
  return buildCab(spec);
}

}  // namespace fdt
