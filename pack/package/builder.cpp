#include "builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#ifdef _WIN32
#include <direct.h>
#else
#include <unistd.h>
#endif

#include "assemble.h"
#include "branding.h"
#include "cabinspect.h"
#include "cabio.h"
#include "crc32.h"
#include "infocabinet.h"
#include "integrity.h"
#include "hostfiles.h"
#include "outputfolder.h"
#include "package.h"
#include "pechecksum.h"
#include "pkgintegrity.h"
#include "storednames.h"
#include "szdd.h"
#include "uTrans.h"

std::string FindBuiltFile(const std::string& fileName, const std::string& treeFolder,
                          std::vector<std::string>& looked) {
  looked.clear();
  const std::string self = OwnExecutablePath();
  if (!self.empty()) {
    const std::string beside = HostFolderOf(self);
    looked.push_back(JoinHostPath(beside, fileName));
    looked.push_back(JoinHostPath(beside, std::string("../") + kInstalledFilesFolder + "/" + fileName));
#ifdef VELTRA_WIN32_TREE_FROM_PACK
    // The build tree lies at a fixed place from the build folder only: from a
    // copy elsewhere (an installed one) the same relative path would name a
    // folder that anyone may have made, such as C:\win32 beside C:\Program Files.
    if (HostKindOf(JoinHostPath(beside, "CMakeFiles")) == HostKind::Folder)
      looked.push_back(
          JoinHostPath(beside, std::string(VELTRA_WIN32_TREE_FROM_PACK) + "/" + treeFolder + "/" + fileName));
#endif
  }
  for (const std::string& candidate : looked) {
    if (HostKindOf(candidate) == HostKind::File) return candidate;
  }
  return "";
}

namespace {

// A DLL without a checksum gets one, so that a damaged block 3 can be told
// from a sound one before it is loaded. True when it was written.
bool AddMissingPeChecksum(Bytes& image) {
  PeImageFacts facts;
  return ReadPeImageFacts(image.data(), image.size(), facts) && facts.storedChecksum == 0 &&
         WritePeChecksum(image.data(), image.size());
}

}  // namespace

bool CabinetLibraryBlock(const std::string& path, std::vector<uint8_t>& block, std::string& error) {
  Bytes bytes;
  if (!ReadWholeFile(path, bytes)) return error = path + ": cannot read the cabinet library", false;
  SzddHeader header;
  std::vector<uint8_t> expanded;
  uint8_t lastChar = SzddLastCharOf(HostNameOf(path).c_str());
  if (ReadSzddHeader(bytes.data(), bytes.size(), header)) {
    if (SzddExpand(bytes.data(), bytes.size(), expanded) != SzddStatus::Ok)
      return error = path + ": a damaged SZDD file", false;
    if (!AddMissingPeChecksum(expanded)) {
      block = bytes;
      return true;
    }
    bytes = expanded;
    lastChar = header.lastChar;
  } else if (bytes.size() < 2 || bytes[0] != 'M' || bytes[1] != 'Z') {
    return error = path + ": the cabinet library must be a DLL or its SZDD-compressed form", false;
  } else {
    AddMissingPeChecksum(bytes);
  }
  block = SzddCompress(bytes.data(), bytes.size(), lastChar);
  if (SzddExpand(block.data(), block.size(), expanded) != SzddStatus::Ok || expanded != bytes)
    return error = path + ": the SZDD compression did not give the library back", false;
  return true;
}

std::string VolumeFileName(const std::string& setupPath, int index) {
  std::string stem = HostNameOf(setupPath);
  const size_t dot = stem.rfind('.');
  if (dot != std::string::npos && dot > 0) stem.erase(dot);
  return stem + "-" + std::to_string(index) + ".cab";
}

namespace {

void RemoveEmptyFolder(const std::string& path) {
#ifdef _WIN32
  _rmdir(path.c_str());
#else
  rmdir(path.c_str());
#endif
}

// Files written under temporary names, removed unless the build commits
// (and on an interrupt, see RegisterPartialFile), and the folders made for them.
class PendingOutputs {
 public:
  ~PendingOutputs() {
    for (const auto& p : pending_) Drop(p.first);
    for (const std::string& t : scratch_) Drop(t);
    for (const std::string& f : folders_) RemoveEmptyFolder(f);
  }
  // Makes `folder` and the folders above it that are missing.
  bool MakeFolder(const std::string& folder) {
    for (std::string f = folder; HostKindOf(f) == HostKind::Missing && f != HostFolderOf(f);
         f = HostFolderOf(f))
      folders_.push_back(f);
    return MakeHostFolders(folder);
  }
  // A file that becomes `final` when the build succeeds.
  std::string Add(const std::string& final) {
    for (const auto& p : pending_) {
      if (p.second == final) return p.first;
    }
    pending_.push_back({PartialNameFor(final), final});
    RegisterPartialFile(pending_.back().first);
    return pending_.back().first;
  }
  // A file named after `base` that goes in any case.
  std::string Scratch(const std::string& base) {
    scratch_.push_back(PartialNameFor(base));
    RegisterPartialFile(scratch_.back());
    return scratch_.back();
  }
  // The files that become outputs, before they do.
  std::vector<std::string> Finals() const {
    std::vector<std::string> finals;
    for (const auto& p : pending_) finals.push_back(p.second);
    return finals;
  }
  bool Commit(std::vector<std::string>& finals, std::string& error) {
    for (const auto& p : pending_) {
      if (!ReplaceHostFile(p.first, p.second, error)) return false;
      ForgetPartialFile(p.first);
      finals.push_back(p.second);
    }
    pending_.clear();
    folders_.clear();
    return true;
  }

 private:
  static void Drop(const std::string& path) {
    std::remove(path.c_str());
    ForgetPartialFile(path);
  }
  std::vector<std::pair<std::string, std::string>> pending_;
  std::vector<std::string> scratch_;
  std::vector<std::string> folders_;  // deepest first
};

// The integrity record's two files in the information cabinet: the CRCs
// ("~DAT3.", version 1) and the volumes' SHA-256 ("~DAT4.", version 2;
// empty for a package without follow-up volumes).
struct IntegrityFiles {
  std::string crcs;
  std::string digests;
};

class Build {
 public:
  Build(const Project& project, const BuildOverrides& overrides, BuildResult& result, Diagnostics& d)
      : p_(project), o_(overrides), r_(result), d_(d) {}
  bool Run();

 private:
  void Error(const std::string& key, const std::string& text) {
    d_.Error(p_.path, KeyLine(p_, "Package", key), text);
  }
  bool LoadStub();
  bool LoadCabinetLibrary();
  bool PlanPayload();
  bool WritePayloadAndRecord();
  bool StoresNonAscii() const;
  bool WriteInfoCabinet(const IntegrityFiles& record);
  bool RecordOfParts(int volumes, bool placeholder, IntegrityFiles& record) const;
  bool WritePayload();
  bool CopyGivenVolumes();
  bool WriteSetup();
  bool CheckSigning();
  bool CheckOutputFolder();
  bool ReadSourceDateEpoch();
  int64_t SigningTime() const;
  int ProjectLine(const std::string& key, const std::string& given) const;
  void GatherInputs();
  bool CheckOutputs(const std::vector<std::string>& finals);

  SignSettings sign_;

  const Project& p_;
  const BuildOverrides& o_;
  BuildResult& r_;
  Diagnostics& d_;
  PendingOutputs pending_;
  std::string setupPath_, payloadPath_;
  std::string stubPath_, libraryPath_;
  std::vector<std::pair<HostFileId, std::string>> inputs_;  // every file the build reads
  PackageParts parts_;
  std::vector<cab::Entry> entries_;
  CabSetSummary givenSet_;
  std::vector<std::string> inPlace_;  // given volumes that already lie beside Setup.exe
  std::vector<uint32_t> fileCrcs_;    // of entries_, in order
  // The follow-up volumes as stored: the name the set gives each, and where
  // its bytes lie now.
  std::vector<std::pair<std::string, std::string>> storedVolumes_;
  int64_t epoch_ = -1;        // SOURCE_DATE_EPOCH, when set
  size_t infoReserve_ = 0;    // bytes kept free in Setup.exe for the final information cabinet
  uint64_t signReserve_ = 0;  // and for the signature, when Setup.exe is signed
};

// How much the information cabinet may grow when the integrity record's
// placeholder CRCs are replaced by the real ones (MSZIP output of 4 changed
// bytes per entry differs by a few bytes).
constexpr size_t kInfoCabinetSlack = 64;

// The line of a [Package] key whose value the build uses, or 0 when the
// command line gave it; -1 when that line was reported while loading.
int Build::ProjectLine(const std::string& key, const std::string& given) const {
  if (!given.empty()) return 0;
  const int line = KeyLine(p_, "Package", key);
  return line && d_.HasErrorAt(p_.path, line) ? -1 : line;
}

bool Build::LoadStub() {
  if (ProjectLine("Stub", o_.stub) < 0) return false;
  std::string path = !o_.stub.empty() ? o_.stub : p_.stub;
  if (path.empty()) {
    std::vector<std::string> looked;
    path = FindBuiltFile(kStubFileName, "stub", looked);
    if (path.empty()) {
      std::string where;
      for (const std::string& l : looked) where += "\n  " + l;
      Error("Stub",
            "no stub given and none found; build the win32 tree (scripts/build.sh) or give "
            "Stub = path in [Package] or --stub. Looked for:" +
                where);
      return false;
    }
  }
  std::string error;
  stubPath_ = path;
  if (!ReadWholeFile(path, parts_.Stub)) return Error("Stub", path + ": cannot read the stub"), false;
  if (FindPackageBaseField(parts_.Stub, error) < 0) return Error("Stub", path + ": " + error), false;
  return true;
}

bool Build::LoadCabinetLibrary() {
  if (ProjectLine("CabinetLibrary", o_.cabinetLibrary) < 0) return false;
  const std::string& given = !o_.cabinetLibrary.empty() ? o_.cabinetLibrary : p_.cabinetLibrary;
  const bool none = o_.cabinetLibrary == "none" || (o_.cabinetLibrary.empty() && p_.noCabinetLibrary);
  if (none) return true;
  std::string path = given;
  if (path.empty()) {
    std::vector<std::string> looked;
    path = FindBuiltFile(kCabinetLibraryFileName, "fdi", looked);
    if (path.empty()) {
      std::string where;
      for (const std::string& l : looked) where += "\n  " + l;
      Error("CabinetLibrary",
            "the project's own cabinet library cabinet-veltra.dll was not found; build the "
            "win32 tree (scripts/build.sh), give CabinetLibrary = path, or write "
            "CabinetLibrary = none for a package without one. Looked for:" +
                where);
      return false;
    }
  }
  std::string error;
  libraryPath_ = path;
  if (!CabinetLibraryBlock(path, parts_.CabLib, error)) return Error("CabinetLibrary", error), false;
  return true;
}

bool Build::PlanPayload() {
  if (!p_.cabinet.empty()) {
    std::string error;
    if (!ReadCabSet(p_.cabinet, givenSet_, error)) return Error("Cabinet", error), false;
    r_.payloadFiles = givenSet_.fileCount;
    r_.payloadBytes = givenSet_.uncompressedBytes;
    for (const std::string& name : givenSet_.fileNames) {
      const std::string why = CheckInstallName(name, p_.codePage);
      if (!why.empty()) d_.Warning(p_.cabinet, 0, "the stub cannot install this file as stored: " + why);
    }
    return true;
  }
  for (const PayloadFile& f : p_.files) {
    cab::Entry e;
    e.storedName = f.storedName;
    e.sourcePath = f.sourcePath;
    if (!DosStampOfFile(f.sourcePath, e.stamp))
      return d_.Error(p_.path, f.line, "cannot read the time of " + f.sourcePath), false;
    // A fresh checkout stamps every file with the time of the checkout; the
    // time the sources claim keeps two checkouts alike.
    if (epoch_ >= 0 && UnixTimeOfDosStamp(e.stamp.date, e.stamp.time) > epoch_)
      e.stamp = cab::DosStampFromUnixTime(epoch_);
    e.attributes = HostCabAttributes(f.sourcePath);
    uint32_t crc = 0;
    uint64_t length = 0;
    if (!CrcOfFile(f.sourcePath, -1, false, "", crc, length))
      return d_.Error(p_.path, f.line, "cannot read " + f.sourcePath), false;
    fileCrcs_.push_back(crc);
    entries_.push_back(e);
    r_.payloadBytes += f.size;
  }
  r_.payloadFiles = entries_.size();
  // A cabinet without files is refused as damaged by cabinet readers, the
  // stub's among them, so such a package could never install.
  if (entries_.empty())
    return d_.Error(p_.path, 0, "the payload holds no files; a package needs at least one"), false;
  return true;
}

bool Build::WriteInfoCabinet(const IntegrityFiles& record) {
  SetupScript script = p_.script;
  if (!p_.minFreeGiven) script.MinFree = int64_t(r_.payloadBytes);
  r_.minFree = script.MinFree;
  std::string scriptBytes, error;
  if (!WriteSetupScript(script, scriptBytes, error)) return d_.Error(p_.path, 0, error), false;
  std::vector<cab::Entry> info;
  info.push_back(cab::Entry{kSetupScriptName, "", scriptBytes, cab::DosStamp(), cab::kAttrArchive});
  if (!p_.sidePicture.empty())
    info.push_back(cab::Entry{kSidePictureName, p_.sidePicture, "", cab::DosStamp(), cab::kAttrArchive});
  if (!p_.headerPicture.empty())
    info.push_back(cab::Entry{kHeaderPictureName, p_.headerPicture, "", cab::DosStamp(), cab::kAttrArchive});
  info.push_back(cab::Entry{kIntegrityRecordName, "", record.crcs, cab::DosStamp(), cab::kAttrArchive});
  if (!record.digests.empty())
    info.push_back(cab::Entry{kIntegrityDigestsName, "", record.digests, cab::DosStamp(), cab::kAttrArchive});
  cab::WriteOptions options;
  options.level = 9;
  cab::WriteResult written;
  const std::string temp = pending_.Scratch(setupPath_ + ".info");
  if (!cab::WriteCabinet(info, options, temp, HostCabinetFiles(), written, error) ||
      !ReadWholeFile(temp, parts_.InfoCab))
    return d_.Error(p_.path, 0, "information cabinet: " + error), false;
  std::remove(temp.c_str());
  return true;
}

bool Build::WritePayload() {
  if (!p_.cabinet.empty()) {
    payloadPath_ = p_.cabinet;
    return CopyGivenVolumes();
  }
  cab::WriteOptions options;
  options.compression = o_.hasCompression ? o_.compression : p_.compression;
  options.level = p_.level;
  options.lzxWindow = o_.lzxWindow ? o_.lzxWindow : p_.lzxWindow;
  options.progress = o_.progress;
  options.leadBytes = LeadBytes(p_.codePage);
  options.threads = o_.threads > 0 ? o_.threads : DefaultThreads();
  if (o_.folderSize) options.folderTarget = o_.folderSize;
  if (p_.volumeSize) {
    const uint64_t before = parts_.Stub.size() + kPackageHeaderSize + parts_.LangText.size() +
                            parts_.CabLib.size() + parts_.InfoCab.size() + infoReserve_ + signReserve_;
    if (before + cab::kMinVolumeSize > p_.volumeSize) {
      Error("VolumeSize", "VolumeSize " + std::to_string(p_.volumeSize) + " leaves Setup.exe less than " +
                              std::to_string(cab::kMinVolumeSize / 1024) + " KiB for payload after its " +
                              std::to_string(before) + " bytes of stub and package blocks");
      return false;
    }
    options.volumeSize = uint32_t(p_.volumeSize);
    options.firstVolumeSize = uint32_t(p_.volumeSize - before);
  }
  const bool scramble = !parts_.Password.empty();
  payloadPath_ = pending_.Scratch(setupPath_ + ".payload");
  std::vector<std::string> plainVolumes;
  cab::VolumeNamer namer = [&](int index) {
    if (index == 0) return cab::VolumeName{payloadPath_, HostNameOf(setupPath_), "Disk 1"};
    const std::string name = VolumeFileName(setupPath_, index + 1);
    const std::string final = JoinHostPath(HostFolderOf(setupPath_), name);
    // A plain volume is written where Add(final) below expects it.
    std::string path = scramble ? pending_.Scratch(final + ".plain") : PartialNameFor(final);
    if (!scramble) RegisterPartialFile(path);
    return cab::VolumeName{path, name, "Disk " + std::to_string(index + 1)};
  };
  cab::WriteResult written;
  std::string error;
  if (!cab::WriteCabinetSet(entries_, options, namer, HostCabinetFiles(), written, error))
    return d_.Error(p_.path, 0, error), false;
  storedVolumes_.clear();
  for (size_t i = 1; i < written.volumes.size(); ++i) {
    const std::string name = VolumeFileName(setupPath_, int(i) + 1);
    const std::string final = JoinHostPath(HostFolderOf(setupPath_), name);
    const std::string target = pending_.Add(final);
    storedVolumes_.push_back({name, target});
    if (scramble) {
      const std::string& plain = written.volumes[i].path;
      if (!CopyHostFile(plain, target, true, parts_.Password, error))
        return d_.Error(p_.path, 0, error), false;
      std::remove(plain.c_str());
    }
  }
  return true;
}

bool Build::CopyGivenVolumes() {
  storedVolumes_.clear();
  for (size_t i = 0; i < givenSet_.volumeNames.size(); ++i) {
    const std::string final = JoinHostPath(HostFolderOf(setupPath_), givenSet_.volumeNames[i]);
    std::string error;
    const bool inPlace = SameHostFile(givenSet_.volumePaths[i + 1], final);
    storedVolumes_.push_back({givenSet_.volumeNames[i], inPlace ? final : pending_.Add(final)});
    if (inPlace) {
      // The set lies where Setup.exe goes: a plain volume is right as it is,
      // but scrambling it would destroy the project's own file.
      if (!parts_.Password.empty())
        return Error("Cabinet", "with a password the volumes are written scrambled, which would overwrite " +
                                    final + "; write Setup.exe to another folder"),
               false;
      inPlace_.push_back(final);
      continue;
    }
    if (!CopyHostFile(givenSet_.volumePaths[i + 1], pending_.Add(final), !parts_.Password.empty(),
                      parts_.Password, error))
      return Error("Cabinet", error), false;
  }
  return true;
}

// The record names the payload's volumes and covers their bytes, while the
// room the payload has in Setup.exe depends on the information cabinet that
// holds the record. So the payload is written against an information cabinet
// with a record of the same shape (placeholder CRCs, as many volumes as
// guessed) and some slack, again while it needs more volumes than guessed,
// and the real record goes in last.
bool HasNonAscii(const std::string& bytes) {
  for (char c : bytes) {
    if (uint8_t(c) >= 0x80) return true;
  }
  return false;
}

// A package whose names and texts are all ASCII reads the same in every ANSI
// code page, so only a package with other characters records its code page
// (and only such a one makes the stub compare it with the system's).
bool Build::StoresNonAscii() const {
  std::string script, error;
  if (HasNonAscii(parts_.LangText) || (WriteSetupScript(p_.script, script, error) && HasNonAscii(script)))
    return true;
  for (const PayloadFile& f : p_.files) {
    if (HasNonAscii(f.storedName)) return true;
  }
  for (const std::string& name : givenSet_.fileNames) {
    if (HasNonAscii(name)) return true;
  }
  return false;
}

bool Build::WritePayloadAndRecord() {
  int volumes = p_.cabinet.empty() ? 1 : int(givenSet_.volumeNames.size()) + 1;
  size_t reserved = 0;
  while (true) {
    IntegrityFiles record;
    if (!RecordOfParts(volumes, true, record) || !WriteInfoCabinet(record)) return false;
    reserved = parts_.InfoCab.size() + kInfoCabinetSlack;
    infoReserve_ = kInfoCabinetSlack;
    if (!WritePayload()) return false;
    if (int(storedVolumes_.size()) + 1 <= volumes) break;
    volumes = int(storedVolumes_.size()) + 1;
  }
  IntegrityFiles record;
  if (!RecordOfParts(int(storedVolumes_.size()) + 1, false, record))
    return d_.Error(p_.path, 0, "cannot read back the payload for the integrity record"), false;
  if (!WriteInfoCabinet(record)) return false;
  if (p_.volumeSize && parts_.InfoCab.size() > reserved)
    return d_.Error(p_.path, 0,
                    "the information cabinet outgrew the room kept for it; try another VolumeSize"),
           false;
  return true;
}

bool Build::RecordOfParts(int volumes, bool placeholder, IntegrityFiles& record) const {
  // Placeholders are as incompressible as real CRCs, so the cabinet that
  // holds them has the real one's size within the slack.
  uint32_t fake = 0x9E3779B9u;
  auto crcOr = [&](uint32_t real) { return placeholder ? (fake = fake * 1664525u + 1013904223u) : real; };
  IntegrityRecord r, digests;
  digests.version = 2;
  uint8_t header[kPackageHeaderSize];
  EncodePackageHeader(MakePackageHeader(int32_t(parts_.LangText.size()), int32_t(parts_.CabLib.size()), 0,
                                        !parts_.Password.empty()),
                      header);
  r.entries.push_back({IntegrityKind::Header, "", kPackageHeaderSize, IntegrityHeaderCrc(header)});
  r.entries.push_back(
      {IntegrityKind::LangText, "", uint32_t(parts_.LangText.size()),
       Crc32(reinterpret_cast<const uint8_t*>(parts_.LangText.data()), parts_.LangText.size())});
  r.entries.push_back({IntegrityKind::CabLib, "", uint32_t(parts_.CabLib.size()),
                       Crc32(parts_.CabLib.data(), parts_.CabLib.size())});
  uint32_t crc = 0;
  uint64_t length = 0;
  const uint32_t payloadSize = placeholder ? uint32_t(p_.volumeSize) : CabinetSizeOfFile(payloadPath_);
  if (!placeholder && (payloadSize == 0 || !CrcOfFile(payloadPath_, payloadSize, !parts_.Password.empty(),
                                                      parts_.Password, crc, length)))
    return false;
  r.entries.push_back({IntegrityKind::Payload, "", payloadSize, crcOr(crc)});
  for (int i = 2; i <= volumes; ++i) {
    crc = 0;
    length = p_.volumeSize;
    const size_t at = size_t(i - 2);
    IntegrityEntry volume;
    if (!placeholder && !CrcOfFile(storedVolumes_.at(at).second, -1, false, "", crc, length, volume.sha256))
      return false;
    for (uint8_t& b : volume.sha256) b = placeholder ? uint8_t(crcOr(0) >> 24) : b;
    volume.kind = IntegrityKind::Volume;
    volume.name = at < storedVolumes_.size() ? storedVolumes_[at].first : VolumeFileName(setupPath_, i);
    volume.length = uint32_t(length);
    volume.crc = crcOr(crc);
    r.entries.push_back(volume);
    digests.entries.push_back(volume);
  }
  for (size_t i = 0; i < entries_.size(); ++i) {
    const uint64_t size = p_.files[i].size;
    r.entries.push_back({IntegrityKind::File, entries_[i].storedName, uint32_t(size), fileCrcs_[i]});
  }
  record.crcs = WriteIntegrityRecord(r);
  record.digests = digests.entries.empty() ? std::string() : WriteIntegrityRecord(digests);
  return true;
}

// The signing settings as the command line leaves them, checked before
// anything is written.
bool Build::CheckSigning() {
  if (o_.noSign) return true;
  sign_ = OverlaySignSettings(p_.sign, o_.sign);
  if (!sign_.Requested()) return true;
  bool ok = true;
  for (const SignProblem& problem : CheckSignSettings(sign_)) {
    // At the project's line when the value is the project's; said once.
    const int line = SignValue(o_.sign, problem.key).empty() ? KeyLine(p_, "Sign", problem.key) : 0;
    ok = false;
    if (!line || !d_.HasErrorAt(p_.path, line))
      d_.Error(p_.path, line, (line ? "" : "--sign-* options: ") + problem.text);
  }
  // With VolumeSize, Setup.exe keeps room for what signing appends: the
  // certificates (no larger than their files), the signature and its
  // attributes, and a timestamp's countersignature.
  uint64_t size = 0;
  for (const std::string& path : {sign_.certificate, sign_.pkcs12}) {
    if (!path.empty() && CabSourceSize(path, size)) signReserve_ += size;
  }
  signReserve_ += 4096 + (sign_.timestampServer.empty() ? 0 : 8192);
  return ok;
}

// The output's folder must be one, or one that can be made; it is made only
// once every check has passed.
bool Build::CheckOutputFolder() {
  const int line = ProjectLine("Output", o_.output);
  if (line < 0) return false;
  std::string existing = HostFolderOf(setupPath_);
  while (HostKindOf(existing) == HostKind::Missing && existing != HostFolderOf(existing))
    existing = HostFolderOf(existing);
  if (HostKindOf(existing) == HostKind::Folder) return true;
  d_.Error(p_.path, line,
           "the output folder " + HostFolderOf(setupPath_) + " cannot be made: " + existing +
               " is not a folder; give " + (line ? "Output" : "-o") + " a path in a folder");
  return false;
}

// SOURCE_DATE_EPOCH, as reproducible builds define it: the time the sources
// claim, in seconds since 1970. A value that is no such time is refused, since
// ignoring it would give a build that only looks reproducible.
bool Build::ReadSourceDateEpoch() {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (!text || !*text) return true;
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (*end == 0 && value >= 315532800 && value <= 4354819199LL) return epoch_ = value, true;
  d_.Error(p_.path, 0,
           std::string("SOURCE_DATE_EPOCH must be seconds since 1970, from 1980 to 2107 (the times a "
                       "cabinet stores), not ") +
               text);
  return false;
}

// The time a signature states: SOURCE_DATE_EPOCH when the environment sets
// it, else the newest of the project file and the payload's files, so that
// the same inputs sign to the same bytes.
int64_t Build::SigningTime() const {
  if (epoch_ >= 0) return epoch_;
  int64_t newest = 0;
  cab::DosStamp stamp;
  for (const std::string& path : {p_.path, p_.cabinet}) {
    if (!path.empty() && DosStampOfFile(path, stamp))
      newest = std::max(newest, UnixTimeOfDosStamp(stamp.date, stamp.time));
  }
  for (const cab::Entry& e : entries_)
    newest = std::max(newest, UnixTimeOfDosStamp(e.stamp.date, e.stamp.time));
  return newest;
}

void Build::GatherInputs() {
  std::vector<std::string> paths = {p_.path,          stubPath_,         libraryPath_,      p_.sidePicture,
                                    p_.headerPicture, p_.language,       sign_.certificate, sign_.key,
                                    sign_.pkcs12,     sign_.passwordFile};
  paths.insert(paths.end(), givenSet_.volumePaths.begin(), givenSet_.volumePaths.end());
  for (const PayloadFile& f : p_.files) paths.push_back(f.sourcePath);
  HostFileId id;
  for (const std::string& path : paths) {
    if (!path.empty() && HostFileIdOf(path, id)) inputs_.push_back({id, path});
  }
}

// An output must not replace a file the build reads: the project file, the
// stub, the library, a source or any other input.
bool Build::CheckOutputs(const std::vector<std::string>& finals) {
  HostFileId id;
  for (const std::string& final : finals) {
    if (!HostFileIdOf(final, id)) continue;
    for (const auto& input : inputs_) {
      if (input.first == id)
        return d_.Error(p_.path, 0,
                        "the output " + final + " is the input " + input.second +
                            "; it would be written over: choose another output"),
               false;
    }
  }
  return true;
}

bool Build::WriteSetup() {
  std::string error;
  const std::string packagePath =
      sign_.Requested() ? pending_.Scratch(setupPath_ + ".unsigned") : pending_.Add(setupPath_);
  if (!WritePackageFile(parts_, payloadPath_, packagePath, error)) return d_.Error(p_.path, 0, error), false;
  if (sign_.Requested()) {
    if (!SignFile(sign_, SigningTime(), packagePath, pending_.Add(setupPath_), error))
      return d_.Error(p_.path, KeyLine(p_, "Sign", "Certificate"), error), false;
    std::remove(packagePath.c_str());
    r_.isSigned = true;
    uint64_t signedSize = 0;
    if (p_.volumeSize && CabSourceSize(pending_.Add(setupPath_), signedSize) && signedSize > p_.volumeSize)
      return Error("VolumeSize", "the signature made Setup.exe " + std::to_string(signedSize) +
                                     " bytes, more than VolumeSize; give a larger VolumeSize"),
             false;
  }
  // Setup.exe goes first in the list of outputs.
  std::vector<std::string> finals;
  if (!CheckOutputs(pending_.Finals())) return false;
  if (!pending_.Commit(finals, error)) return d_.Error(p_.path, 0, error), false;
  r_.outputs.assign(finals.rbegin(), finals.rbegin() + 1);
  r_.outputs.insert(r_.outputs.end(), finals.begin(), finals.end() - 1);
  r_.outputs.insert(r_.outputs.end(), inPlace_.begin(), inPlace_.end());
  r_.setupSize = 0;
  if (std::FILE* f = std::fopen(setupPath_.c_str(), "rb")) {
    fseeko(f, 0, SEEK_END);
    r_.setupSize = uint64_t(ftello(f));
    std::fclose(f);
  }
  return true;
}

bool Build::Run() {
  setupPath_ = !o_.output.empty() ? o_.output : p_.output;
  parts_.Password = o_.hasPassword ? o_.password : p_.password;
  parts_.LangText = p_.language.empty() ? WriteLangText(DefaultLangTable()) : p_.languageText;
  // Every check that needs no writing, each one reported, before anything is
  // written: one run names every fault, the project's own included.
  bool ok = CheckOutputFolder();
  ok &= ReadSourceDateEpoch();
  ok &= CheckSigning();
  ok &= LoadStub() && BrandSetupStub(p_, o_.brand, parts_, d_);
  ok &= LoadCabinetLibrary();
  if (!ok || d_.HasErrors() || !PlanPayload()) return false;
  GatherInputs();
  if (StoresNonAscii()) parts_.LangText += CodePageLine(p_.codePage);
  if (!CheckOutputs({setupPath_})) return false;
  if (!pending_.MakeFolder(HostFolderOf(setupPath_)))
    return d_.Error(p_.path, ProjectLine("Output", o_.output),
                    "cannot make the output folder " + HostFolderOf(setupPath_)),
           false;
  if (!WritePayloadAndRecord() || !WriteSetup()) return false;
  const std::string stale =
      JoinHostPath(HostFolderOf(setupPath_), VolumeFileName(setupPath_, int(r_.outputs.size()) + 1));
  if (HostKindOf(stale) == HostKind::File)
    d_.Warning(stale, 0, "left from an earlier build; this package does not use it");
  return true;
}

}  // namespace

int DefaultThreads() { return std::max(1, int(std::thread::hardware_concurrency())); }

bool BuildPackage(const Project& project, const BuildOverrides& overrides, BuildResult& result,
                  Diagnostics& diagnostics) {
  result = BuildResult();
  return Build(project, overrides, result, diagnostics).Run();
}
