#include "package.h"

#include <cstring>

#include "byteorder.h"

const char kPackageMagic[9] = "$VELTRA$";
const char kScramblePrefix[7] = "RUVEKA";

namespace {

int32_t ReadSigned32(const uint8_t* p) { return static_cast<int32_t>(ReadLe32(p)); }

void WriteSigned32(uint8_t* p, int32_t value) { WriteLe32(p, static_cast<uint32_t>(value)); }

// Wrapping signed 32-bit addition: the stub's offset arithmetic.
int32_t Add32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

PackageHeader DecodePackageHeader(const uint8_t bytes[kPackageHeaderSize]) {
  PackageHeader h;
  std::memcpy(h.Magic, bytes, 8);
  h.LangTextSize = ReadSigned32(bytes + 8);
  h.Reserved1 = ReadSigned32(bytes + 12);
  h.CabLibSize = ReadSigned32(bytes + 16);
  h.InfoCabSize = ReadSigned32(bytes + 20);
  h.Reserved2 = ReadSigned32(bytes + 24);
  h.PasswordProtected = bytes[28];
  h.Reserved3 = ReadSigned32(bytes + 29);
  return h;
}

void EncodePackageHeader(const PackageHeader& h, uint8_t bytes[kPackageHeaderSize]) {
  std::memcpy(bytes, h.Magic, 8);
  WriteSigned32(bytes + 8, h.LangTextSize);
  WriteSigned32(bytes + 12, h.Reserved1);
  WriteSigned32(bytes + 16, h.CabLibSize);
  WriteSigned32(bytes + 20, h.InfoCabSize);
  WriteSigned32(bytes + 24, h.Reserved2);
  bytes[28] = h.PasswordProtected;
  WriteSigned32(bytes + 29, h.Reserved3);
}

bool HasPackageMagic(const PackageHeader& h) { return std::memcmp(h.Magic, kPackageMagic, 8) == 0; }

PackageHeader MakePackageHeader(int32_t langTextSize, int32_t cabLibSize, int32_t infoCabSize,
                                bool passwordProtected) {
  PackageHeader h{};
  std::memcpy(h.Magic, kPackageMagic, 8);
  h.LangTextSize = langTextSize;
  h.CabLibSize = cabLibSize;
  h.InfoCabSize = infoCabSize;
  h.PasswordProtected = passwordProtected ? 1 : 0;
  return h;
}

PackageBlocks ComputePackageBlocks(int32_t base, const PackageHeader& h) {
  const int32_t lang = Add32(base, kPackageHeaderSize);
  const int32_t lib = Add32(lang, h.LangTextSize);
  const int32_t info = Add32(lib, h.CabLibSize);
  const int32_t payload = Add32(info, h.InfoCabSize);
  return PackageBlocks{lang, lib, info, payload};
}

std::string MakeScrambleKey(const std::string& password) { return std::string(kScramblePrefix) + password; }

PackageLayoutFault CheckPackageLayout(int32_t base, const PackageHeader& h, int64_t fileSize) {
  if (base <= 0 || int64_t(base) + kPackageHeaderSize > fileSize) return PackageLayoutFault::NoHeader;
  if (h.LangTextSize < 0 || h.CabLibSize < 0 || h.InfoCabSize < 0) return PackageLayoutFault::NegativeSize;
  if (h.LangTextSize == 0) return PackageLayoutFault::NoLanguageText;
  if (h.InfoCabSize < kMinCabinetSize) return PackageLayoutFault::NoInfoCabinet;
  const int64_t payload = int64_t(base) + kPackageHeaderSize + h.LangTextSize + h.CabLibSize + h.InfoCabSize;
  if (payload > fileSize) return PackageLayoutFault::PastEnd;
  if (fileSize - payload < kMinCabinetSize) return PackageLayoutFault::NoPayload;
  // The stub works in signed 32-bit offsets: the payload must begin below 2 GiB.
  if (payload > INT32_MAX) return PackageLayoutFault::TooLarge;
  return PackageLayoutFault::None;
}
