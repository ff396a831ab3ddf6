#include "assemble.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "byteorder.h"
#include "hostfiles.h"
#include "package.h"
#include "packagebase.h"
#include "pechecksum.h"
#include "uObfuscate.h"

int64_t FindPackageBaseField(const Bytes& stub, std::string& error) {
  const uint8_t* tag = reinterpret_cast<const uint8_t*>(VELTRA_PACKAGE_BASE_TAG);
  int64_t found = -1;
  for (size_t i = 0; i + kPackageBaseTagSize + 4 <= stub.size(); ++i) {
    if (stub[i] != tag[0] || std::memcmp(&stub[i], tag, kPackageBaseTagSize) != 0) continue;
    if (found >= 0) {
      error = "the stub holds the PackageBase tag more than once";
      return -1;
    }
    found = static_cast<int64_t>(i + kPackageBaseTagSize);
  }
  if (found < 0) {
    error = "the file is not a Veltra stub (no PackageBase tag)";
    return -1;
  }
  for (int i = 0; i < 4; ++i) {
    if (stub[found + i] != 0) {
      error = "the stub already carries a package; use the stub as built";
      return -1;
    }
  }
  return found;
}

void ScrambleStream(Bytes& stream, const std::string& password) {
  DescrambleAt(stream.data(), InvertKey(MakeScrambleKey(password)), stream.size(), 0);
}

namespace {

void Append(Bytes& out, const uint8_t* data, size_t size) { out.insert(out.end(), data, data + size); }

}  // namespace

bool AssemblePackagePrefix(const PackageParts& parts, uint64_t payloadSize, Bytes& out, std::string& error) {
  const int64_t field = FindPackageBaseField(parts.Stub, error);
  if (field < 0) return false;
  const uint64_t total = uint64_t(parts.Stub.size()) + kPackageHeaderSize + parts.LangText.size() +
                         parts.CabLib.size() + parts.InfoCab.size() + payloadSize;
  if (total > 0x7FFFFFFFu) {
    error = "the package would be 2 GiB or larger; split the payload into volumes";
    return false;
  }
  out = parts.Stub;
  WriteLe32(out.data() + field, static_cast<uint32_t>(parts.Stub.size()));

  const PackageHeader header = MakePackageHeader(
      static_cast<int32_t>(parts.LangText.size()), static_cast<int32_t>(parts.CabLib.size()),
      static_cast<int32_t>(parts.InfoCab.size()), !parts.Password.empty());
  uint8_t headerBytes[kPackageHeaderSize];
  EncodePackageHeader(header, headerBytes);
  Append(out, headerBytes, sizeof headerBytes);
  Append(out, reinterpret_cast<const uint8_t*>(parts.LangText.data()), parts.LangText.size());
  Append(out, parts.CabLib.data(), parts.CabLib.size());

  Bytes info = parts.InfoCab;
  ScrambleStream(info, parts.Password);
  Append(out, info.data(), info.size());
  return true;
}

bool AssemblePackage(const PackageParts& parts, Bytes& out, std::string& error) {
  if (!AssemblePackagePrefix(parts, parts.Payload.size(), out, error)) return false;
  Bytes payload = parts.Payload;
  if (!parts.Password.empty()) ScrambleStream(payload, parts.Password);
  Append(out, payload.data(), payload.size());
  if (parts.FileChecksum) WritePeChecksum(out.data(), out.size());
  return true;
}

namespace {

uint64_t FileSizeOf(std::FILE* f) {
  if (fseeko(f, 0, SEEK_END) != 0) return UINT64_MAX;
  const long long size = ftello(f);
  std::rewind(f);
  return size < 0 ? UINT64_MAX : uint64_t(size);
}

bool CopyPayload(std::FILE* in, std::FILE* out, const std::string& password, PeChecksumStream& checksum) {
  const std::string key = InvertKey(MakeScrambleKey(password));
  Bytes chunk(1 << 20);
  uint64_t position = 0;
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0) {
    if (!password.empty()) DescrambleAt(chunk.data(), key, n, uint32_t(position));
    if (std::fwrite(chunk.data(), 1, n, out) != n) return false;
    checksum.Add(chunk.data(), n);
    position += n;
  }
  return !std::ferror(in);
}

}  // namespace

bool WritePackageFile(const PackageParts& parts, const std::string& payloadPath, const std::string& outPath,
                      std::string& error) {
  std::FILE* in = std::fopen(payloadPath.c_str(), "rb");
  if (!in) {
    error = payloadPath + ": cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  Bytes prefix;
  const uint64_t payloadSize = FileSizeOf(in);
  if (payloadSize == UINT64_MAX || !AssemblePackagePrefix(parts, payloadSize, prefix, error)) {
    if (payloadSize == UINT64_MAX) error = payloadPath + ": cannot read";
    std::fclose(in);
    return false;
  }
  PeImageFacts facts;
  const bool checksummed = parts.FileChecksum && ReadPeImageFacts(prefix.data(), prefix.size(), facts);
  PeChecksumStream checksum(facts.checksumOffset);
  checksum.Add(prefix.data(), prefix.size());
  std::FILE* out = CreateFreshHostFile(outPath, false, error);
  bool ok = out != nullptr;
  if (ok)
    ok = std::fwrite(prefix.data(), 1, prefix.size(), out) == prefix.size() &&
         CopyPayload(in, out, parts.Password, checksum);
  if (ok && checksummed) {
    uint8_t field[4];
    WriteLe32(field, checksum.Finish());
    ok = fseeko(out, off_t(facts.checksumOffset), SEEK_SET) == 0 && std::fwrite(field, 1, 4, out) == 4;
  }
  if (out && std::fclose(out) != 0) ok = false;
  std::fclose(in);
  if (!ok) {
    if (out) error = outPath + ": cannot write the package (" + std::strerror(errno) + ")";
    std::remove(outPath.c_str());
  }
  return ok;
}
