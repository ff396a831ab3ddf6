// Test scaffolding: an in-memory file system behind FDI's callbacks, a
// recorder of notifications, and a small cabinet writer for damaged inputs.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fdi_interface.h"

namespace fdt {

using Blob = std::vector<uint8_t>;

// Files by name (looked up without regard to letter case, as on Windows),
// open handles, and counters that tests check for leaks.
struct MemoryFs {
  std::map<std::string, Blob> files;
  struct Open {
    std::string name;
    size_t pos = 0;
    bool writable = false;
    bool open = false;
  };
  std::vector<Open> handles;  // handle = index + 1
  int opens = 0, closes = 0;
  long allocations = 0;       // outstanding blocks
  long allocationLimit = -1;  // fail the allocation after this many more
  long writeLimit = -1;       // bytes a write may still take before it comes up short
  std::vector<std::string> openedNames;
};

// The one file system the callbacks work on; FDI's callbacks carry no user pointer.
MemoryFs& fs();
void resetFs();
void addFile(const std::string& name, const Blob& data);
Blob readTestFile(const std::string& path);

// The peer cabinets (testdata/peer-cabs) and what their EXPECTED.txt lists:
// per cabinet (set), the files with their MD5 digests; none for the damaged
// ones.
struct PeerExpected {
  std::string cabinet;
  std::vector<std::pair<std::string, std::string>> files;  // name, md5
};
std::vector<PeerExpected> loadPeerExpected(const std::string& peerDir);
// Resets the file system and adds every peer cabinet under its own name.
void loadPeerCabinets(const std::string& peerDir);

// The entry points the tests call: our library's when linked in, or those
// of a DLL taken with GetProcAddress.
struct FdiApi {
  PFNFDICREATE create;
  PFNFDIISCABINET isCabinet;
  PFNFDICOPY copy;
  PFNFDIDESTROY destroy;
};
FdiApi& api();

HFDI createContext(ERF& erf);
// FDICreate's callbacks, in its order; createContextWithout passes a null
// pointer for the one named.
enum class Callback { kAlloc, kFree, kOpen, kRead, kWrite, kClose, kSeek, kNone };
const char* callbackName(Callback c);
HFDI createContextWithout(ERF& erf, Callback missing);
intptr_t openForRead(const std::string& name);
void closeHandle(intptr_t hf);
// Handles still open; FDI must close every one it opened.
int openHandleCount();

// What one notification carried, in a form that compares and prints.
struct Event {
  int type;
  std::string psz1, psz2, psz3;
  long cb;
  unsigned date, time, attribs, setID, iCabinet, iFolder;
  int fdie;
  intptr_t hf;
};

// Notification handler with per-type behaviour that tests can replace.
struct Handler {
  std::vector<Event> events;
  std::map<std::string, Blob> extracted;  // by stored name, from closed files
  std::map<intptr_t, std::string> targets;
  std::function<intptr_t(Event&, PFDINOTIFICATION)> onCopy;         // default: extract
  std::function<intptr_t(Event&, PFDINOTIFICATION)> onNext;         // default: 0
  std::function<intptr_t(Event&, PFDINOTIFICATION)> onEnumerate;    // default: 0
  std::function<intptr_t(Event&, PFDINOTIFICATION)> onClose;        // default: TRUE
  std::function<intptr_t(Event&, PFDINOTIFICATION)> onCabinetInfo;  // default: 0
  std::string lastRequestedVolume;                                  // psz3 + psz1 of the last NEXT_CABINET
  int count(int type) const;
};

intptr_t FDIAPI notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION n);

// Runs FDICopy on name, then, as the setup stub does, on every further
// volume that a run asked for, until one asks for none. Returns the last
// FDICopy result.
bool copySet(HFDI hfdi, const std::string& name, Handler& h, int maxRuns = 16);

std::string md5Hex(const Blob& data);

// A cabinet writer for tests: one cabinet, stored or MSZIP folders.
struct CabSpecFile {
  std::string name;
  Blob data;
  uint16_t folder = 0;
  uint16_t attribs = 0x20;
  uint16_t folderIndexOverride = 0;  // nonzero: written instead of the folder index
};
struct CabSpec {
  std::vector<CabSpecFile> files;
  std::vector<uint16_t> folderTypes{0};  // compression type per folder
  uint16_t headerReserve = 0;
  uint8_t folderReserve = 0, dataReserve = 0;
  bool checksums = true;
  uint32_t blockSize = 32768;
  uint16_t setId = 0x1234, index = 0;
  std::string prevName, prevDisk, nextName, nextDisk;
  // Ready-made data blocks (payload, uncompressed size) per folder; an
  // empty entry has the folder's data stored or MSZIP-compressed here.
  std::vector<std::vector<std::pair<Blob, uint16_t>>> rawBlocks;
};
Blob buildCab(const CabSpec& spec);
// What a cabinet writer flushes with nothing added: the 36-byte header, no
// folders, no files, coffFiles and cbCabinet both 36.
Blob emptyCab();
Blob patternData(size_t size, uint32_t seed);

}  // namespace fdt
