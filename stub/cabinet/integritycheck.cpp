#include "integritycheck.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <vector>

#include "byteorder.h"
#include "crc32.h"
#include "integrity.h"
#include "package.h"
#include "packagefile.h"
#include "setupparams.h"
#include "uObfuscate.h"

namespace {

IntegrityRecord Record;
bool HaveRecord = false;
IntegrityRecord Digests;  // the version-2 entries: the volumes' SHA-256
bool HaveDigests = false;
bool RecordListsFiles = false;  // packages made around a finished cabinet list none
size_t NextFileEntry = 0;       // where the search for the next file's entry starts

struct TargetFile {
  std::string StoredName;
  std::string Path;        // the partial file; empty while no file is being written
  std::string FinalPath;   // where it goes once complete
  intptr_t Handle = 0;     // 0 once closed
  uint32_t Announced = 0;  // the size FDI gave for it
  uint32_t Crc = 0;
  uint64_t Size = 0;
};
TargetFile Target;

constexpr DWORD kReadChunk = 64 * 1024;
// Far above what a record of 65535 files with long names takes.
constexpr int64_t kMaxRecordSize = 64 * 1024 * 1024;

}  // namespace

void AbandonTarget() {
  if (Target.Path.empty()) return;
  if (Target.Handle != 0) CloseHandle(reinterpret_cast<HANDLE>(Target.Handle));
  SetFileAttributesA(Target.Path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(Target.Path.c_str());
  Target = TargetFile();
}

namespace {

[[noreturn]] void FailDamaged(const std::string& path) {
  FailExtraction(path + "\r\n" + Message(kMsgCabinetTampered), kExitFailed);
}

HANDLE OpenForReading(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool ReadAt(HANDLE file, int64_t offset, void* buffer, DWORD length) {
  LARGE_INTEGER to;
  to.QuadPart = offset;
  DWORD read = 0;
  return offset >= 0 && SetFilePointerEx(file, to, nullptr, FILE_BEGIN) &&
         ReadFile(file, buffer, length, &read, nullptr) && read == length;
}

// False when the file holds fewer than `length` bytes from `offset`. The
// SHA-256 too unless `sha256` is null, in the same pass.
bool CrcOfRange(HANDLE file, int64_t offset, uint64_t length, uint32_t& crc, uint8_t* sha256 = nullptr) {
  std::vector<uint8_t> buffer(kReadChunk);
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  if (sha256 && (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) ||
                 !CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)))
    return false;
  crc = 0;
  bool ok = true;
  while (ok && length > 0) {
    const DWORD want = length < kReadChunk ? static_cast<DWORD>(length) : kReadChunk;
    ok = ReadAt(file, offset, buffer.data(), want) && (!hash || CryptHashData(hash, buffer.data(), want, 0));
    crc = Crc32Update(crc, buffer.data(), want);
    offset += want;
    length -= want;
  }
  DWORD size = kSha256Size;
  if (hash) ok = ok && CryptGetHashParam(hash, HP_HASHVAL, sha256, &size, 0) && size == kSha256Size;
  if (hash) CryptDestroyHash(hash);
  if (provider) CryptReleaseContext(provider, 0);
  return ok;
}

bool MatchesEntry(HANDLE file, int64_t offset, int64_t size, const IntegrityEntry* entry) {
  uint32_t crc = 0;
  return entry && size == int64_t(entry->length) && CrcOfRange(file, offset, entry->length, crc) &&
         crc == entry->crc;
}

// A record that does not parse is damage like any other; one of a newer
// version is left unread, as a stub that predates the record would. True
// when `record` holds what the file held.
bool LoadRecord(const char* name, IntegrityRecord& record) {
  const std::string path = SetupParams.WorkDir + name;
  const HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  std::vector<uint8_t> bytes;
  bool read = GetFileSizeEx(file, &size) && size.QuadPart <= kMaxRecordSize;
  if (read) {
    bytes.resize(static_cast<size_t>(size.QuadPart));
    read = ReadAt(file, 0, bytes.data(), static_cast<DWORD>(bytes.size()));
  }
  CloseHandle(file);
  DeleteFileA(path.c_str());
  const IntegrityStatus status =
      read ? ParseIntegrityRecord(bytes.data(), bytes.size(), record) : IntegrityStatus::Damaged;
  if (status == IntegrityStatus::Damaged) FailDamaged(OwnExecutablePath());
  return status == IntegrityStatus::Ok;
}

// The payload is covered as far as its own header says it runs, so that
// bytes appended to the file afterwards (a signature) do not count.
int64_t PayloadCabinetSize(HANDLE file, int64_t offset) {
  uint8_t head[kMinCabinetSize];
  if (!ReadAt(file, offset, head, sizeof head)) return -1;
  if (SetupParams.Header.PasswordProtected != 0)
    DescrambleAt(head, InvertKey(SetupParams.ScrambleKey), sizeof head, 0);
  return ReadLe32(head + 8);
}

bool PackageMatchesRecord(HANDLE file) {
  const PackageHeader& header = SetupParams.Header;
  const PackageBlocks blocks = ComputePackageBlocks(PackageBase(), header);
  uint8_t headerBytes[kPackageHeaderSize];
  const IntegrityEntry* headerEntry = FindIntegrityEntry(Record, IntegrityKind::Header);
  return headerEntry && headerEntry->length == kPackageHeaderSize &&
         ReadAt(file, PackageBase(), headerBytes, sizeof headerBytes) &&
         IntegrityHeaderCrc(headerBytes) == headerEntry->crc &&
         MatchesEntry(file, blocks.LangText, header.LangTextSize,
                      FindIntegrityEntry(Record, IntegrityKind::LangText)) &&
         MatchesEntry(file, blocks.CabLib, header.CabLibSize,
                      FindIntegrityEntry(Record, IntegrityKind::CabLib)) &&
         MatchesEntry(file, blocks.Payload, PayloadCabinetSize(file, blocks.Payload),
                      FindIntegrityEntry(Record, IntegrityKind::Payload));
}

}  // namespace

void CheckPackageIntegrity() {
  HaveRecord = LoadRecord(kIntegrityRecordName, Record);
  HaveDigests = LoadRecord(kIntegrityDigestsName, Digests);
  for (const IntegrityEntry& e : Record.entries) RecordListsFiles |= e.kind == IntegrityKind::File;
  if (!HaveRecord) return;
  const std::string path = OwnExecutablePath();
  const HANDLE file = OpenForReading(path);
  const bool sound = file != INVALID_HANDLE_VALUE && PackageMatchesRecord(file);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!sound) FailDamaged(path);
}

// With the version-2 entries, a volume's SHA-256 is read in the pass that
// reads its CRC: the CRC finds damage, the SHA-256 a volume made to keep it.
void CheckVolumeIntegrity(const std::string& path, const std::string& name) {
  if (!HaveRecord && !HaveDigests) return;
  const IntegrityEntry* entry =
      HaveRecord ? FindIntegrityEntry(Record, IntegrityKind::Volume, name) : nullptr;
  const IntegrityEntry* digest =
      HaveDigests ? FindIntegrityEntry(Digests, IntegrityKind::Volume, name) : nullptr;
  // Each list that is there must name the volume, with one length, which
  // the file must have before anything is read.
  const IntegrityEntry* expected = entry ? entry : digest;
  const HANDLE file = OpenForReading(path);
  LARGE_INTEGER size;
  uint32_t crc = 0;
  uint8_t sha256[kSha256Size];
  bool sound = file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size) && (!HaveRecord || entry) &&
               (!HaveDigests || digest) && size.QuadPart == int64_t(expected->length) &&
               (!digest || digest->length == expected->length) &&
               CrcOfRange(file, 0, expected->length, crc, digest ? sha256 : nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (sound && entry) sound = crc == entry->crc;
  if (sound && digest) sound = std::memcmp(sha256, digest->sha256, kSha256Size) == 0;
  if (!sound) FailDamaged(path);
}

void CheckAnnouncedFile(const std::string& storedName, uint32_t size) {
  CheckNothingHalfWritten();
  if (!RecordListsFiles) return;
  const IntegrityEntry* entry = FindIntegrityEntry(Record, IntegrityKind::File, storedName, NextFileEntry);
  if (!entry || entry->length != size) FailDamaged(storedName);
}

intptr_t BeginTarget(const std::string& storedName, uint32_t size, const std::string& finalPath,
                     const std::string& partialPath, intptr_t handle) {
  Target = TargetFile();
  if (handle == 0 || handle == -1) return handle;
  Target.StoredName = storedName;
  Target.Announced = size;
  Target.Path = partialPath;
  Target.FinalPath = finalPath;
  Target.Handle = handle;
  return handle;
}

void NoteTargetWrite(intptr_t handle, const void* data, unsigned int count) {
  if (handle != Target.Handle || handle == 0) return;
  Target.Size += count;
  if (RecordListsFiles) Target.Crc = Crc32Update(Target.Crc, static_cast<const uint8_t*>(data), count);
}

void NoteTargetClosed(intptr_t handle) {
  if (handle == Target.Handle) Target.Handle = 0;
}

bool FinishTarget() {
  Target.Handle = 0;
  // Some cabinet libraries close a file that failed half-way through this
  // notification too, and report the failure afterwards: a short file stays
  // marked as half-written until then.
  if (Target.Size != Target.Announced) return false;
  if (RecordListsFiles) {
    // Found at once where CheckAnnouncedFile found it, one before its hint.
    size_t from = NextFileEntry > 0 ? NextFileEntry - 1 : 0;
    const IntegrityEntry* entry = FindIntegrityEntry(Record, IntegrityKind::File, Target.StoredName, from);
    if (!entry || entry->length != Target.Size || entry->crc != Target.Crc) FailDamaged(Target.FinalPath);
  }
  return true;
}

void ForgetTarget() { Target = TargetFile(); }

void CheckNothingHalfWritten() {
  if (!Target.Path.empty()) FailDamaged(Target.FinalPath);
}

void FailExtraction(const std::string& text, ExitCode code) {
  // Removed first: ShowSetupError removes the destination folder when it is empty.
  AbandonTarget();
  if (!text.empty()) ShowSetupError(text);
  ExitSetup(code);
}
