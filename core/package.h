// The package that the builder appends to a copy of the stub:
//
//   PackageBase ─► +0   PackageHeader (33 bytes, packed, little-endian)
//                  +33  language text           LangTextSize bytes   plain
//                  ...  cabinet library (SZDD)  CabLibSize bytes     plain
//                  ...  information cabinet     InfoCabSize bytes    always scrambled
//                  ...  payload cabinet         to the end of file   scrambled with a password
//
// Blocks follow each other without padding. Offsets are computed in signed
// 32-bit arithmetic, as the stub does, so a package ends below 2 GiB.
#pragma once
#include <cstdint>
#include <string>

#pragma pack(push, 1)
struct PackageHeader {
  char Magic[8];  // "$VELTRA$", no terminator
  int32_t LangTextSize;
  int32_t Reserved1;  // writers store 0; the stub never reads it
  int32_t CabLibSize;
  int32_t InfoCabSize;
  int32_t Reserved2;
  uint8_t PasswordProtected;  // 0 = none, anything else = protected
  int32_t Reserved3;
};
#pragma pack(pop)

constexpr int kPackageHeaderSize = 33;
static_assert(sizeof(PackageHeader) == kPackageHeaderSize, "header must be packed");

extern const char kPackageMagic[9];    // "$VELTRA$"
extern const char kScramblePrefix[7];  // "RUVEKA"
// The name under which readers hand the package's cabinets to FDI; their
// open callback maps it onto the package file at the cabinet's offset.
constexpr char kVirtualCabName[] = "qalvo";

// Decodes / encodes the 33 header bytes independently of host byte order.
PackageHeader DecodePackageHeader(const uint8_t bytes[kPackageHeaderSize]);
void EncodePackageHeader(const PackageHeader& header, uint8_t bytes[kPackageHeaderSize]);

// The magic, taken as text up to its first NUL, must equal "$VELTRA$".
bool HasPackageMagic(const PackageHeader& header);

// A header for the given block sizes, with the magic set and reserved fields 0.
PackageHeader MakePackageHeader(int32_t langTextSize, int32_t cabLibSize, int32_t infoCabSize,
                                bool passwordProtected);

// File offsets of the blocks for a package whose header starts at `base`.
struct PackageBlocks {
  int64_t LangText;
  int64_t CabLib;
  int64_t InfoCab;
  int64_t Payload;
};
PackageBlocks ComputePackageBlocks(int32_t base, const PackageHeader& header);

// The descrambling key: the fixed prefix, then the password when there is one.
std::string MakeScrambleKey(const std::string& password);
