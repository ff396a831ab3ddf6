// What the cabinet DLL needs of its runtimes, smaller than what they bring;
// linked into the DLL only (windows.cmake), never into the static library.
#include <cstdlib>

#include <zlib.h>

// MSZIP blocks are raw deflate data (inflateInit2 with negative window
// bits): inflate checks neither a zlib stream's Adler-32 nor a gzip member's
// CRC-32, yet inflate.o refers to both, and CRC-32 alone would bring 8 KB of
// tables into every package. Reaching one of these is a fault of the caller.
extern "C" uLong ZEXPORT adler32(uLong, const Bytef*, uInt) { std::abort(); }
extern "C" uLong ZEXPORT crc32(uLong, const Bytef*, uInt) { std::abort(); }

// The DLL starts here instead of in the C runtime's start-up code (it links
// with -nostartfiles): it has no thread-local data and no imported data to
// relocate, and keeps nothing per thread. What remains is constructing the
// decoders' constant tables once, when the DLL is loaded.
extern "C" void __main();
extern "C" int __stdcall CabinetDllEntry(void*, unsigned long reason, void*) {
  if (reason == 1) __main();  // DLL_PROCESS_ATTACH
  return 1;
}

// Those tables need no destruction. A destructor registered with the C
// runtime would be called at process exit, after a FreeLibrary has
// unloaded its code.
extern "C" int atexit(void (*)()) { return 0; }
