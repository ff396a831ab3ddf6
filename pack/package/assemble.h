// Puts a package together: a copy of the stub with its PackageBase set, the
// header, the language text, the SZDD cabinet library, the information cabinet
// (always scrambled) and the payload cabinet (scrambled with a password).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct PackageParts {
  Bytes Stub;            // the stub as built, PackageBase still 0
  std::string LangText;  // the block as stored (82 lines and the end marker)
  Bytes CabLib;          // SZDD-compressed cabinet library; may be empty
  Bytes InfoCab;         // plain cabinet; scrambled here
  Bytes Payload;         // plain cabinet (first volume); scrambled here with a password
  std::string Password;  // empty: not protected
  // Store the PE checksum of the whole file (a rewritten stub's was made
  // for the stub alone); off for a stub as built, whose bytes stay as they are.
  bool FileChecksum = false;
};

// Where the PackageBase value sits in `stub`; -1 with `error` set when the tag
// is missing or ambiguous, or the stub already carries a package.
int64_t FindPackageBaseField(const Bytes& stub, std::string& error);

// The finished Setup.exe image, or false with `error` set.
bool AssemblePackage(const PackageParts& parts, Bytes& out, std::string& error);

// Everything before the payload: the stub with PackageBase set, the header,
// the language text, the cabinet library and the scrambled information
// cabinet. `payloadSize` only serves the check that the package stays below
// 2 GiB; parts.Payload is not used.
bool AssemblePackagePrefix(const PackageParts& parts, uint64_t payloadSize, Bytes& out, std::string& error);

// Writes a whole Setup.exe to `outPath` with the payload streamed from the
// file `payloadPath` (scrambled on the way when parts.Password is set), so a
// large payload is never held in memory. parts.Payload is not used. On
// failure `outPath` is removed.
bool WritePackageFile(const PackageParts& parts, const std::string& payloadPath, const std::string& outPath,
                      std::string& error);

// Scrambles (or descrambles) a whole cabinet stream with the package key.
void ScrambleStream(Bytes& stream, const std::string& password);
