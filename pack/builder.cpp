#include "builder.h"

#include <cstdio>

#include "assemble.h"
#include "cabinspect.h"
#include "hostfiles.h"
#include "package.h"
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
#ifdef VELTRA_WIN32_TREE_FROM_PACK
    looked.push_back(
        JoinHostPath(beside, std::string(VELTRA_WIN32_TREE_FROM_PACK) + "/" + treeFolder + "/" + fileName));
#endif
  }
  for (const std::string& candidate : looked) {
    if (HostKindOf(candidate) == HostKind::File) return candidate;
  }
  return "";
}

bool CabinetLibraryBlock(const std::string& path, std::vector<uint8_t>& block, std::string& error) {
  Bytes bytes;
  if (!ReadWholeFile(path, bytes)) return error = path + ": cannot read the cabinet library", false;
  SzddHeader header;
  std::vector<uint8_t> expanded;
  if (ReadSzddHeader(bytes.data(), bytes.size(), header)) {
    if (SzddExpand(bytes.data(), bytes.size(), expanded) != SzddStatus::Ok)
      return error = path + ": a damaged SZDD file", false;
    block = bytes;
    return true;
  }
  if (bytes.size() < 2 || bytes[0] != 'M' || bytes[1] != 'Z')
    return error = path + ": the cabinet library must be a DLL or its SZDD-compressed form", false;
  block = SzddCompress(bytes.data(), bytes.size(), SzddLastCharOf(HostNameOf(path).c_str()));
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

// Files written under temporary names, removed unless the build commits.
class PendingOutputs {
 public:
  ~PendingOutputs() {
    for (const auto& p : pending_) std::remove(p.first.c_str());
    for (const std::string& t : scratch_) std::remove(t.c_str());
  }
  // A file that becomes `final` when the build succeeds.
  std::string Add(const std::string& final) {
    pending_.push_back({final + ".partial", final});
    return pending_.back().first;
  }
  // A file that goes in any case.
  std::string Scratch(const std::string& path) {
    scratch_.push_back(path);
    return path;
  }
  bool Commit(std::vector<std::string>& finals, std::string& error) {
    for (const auto& p : pending_) {
      if (!ReplaceHostFile(p.first, p.second, error)) return false;
      finals.push_back(p.second);
    }
    pending_.clear();
    return true;
  }

 private:
  std::vector<std::pair<std::string, std::string>> pending_;
  std::vector<std::string> scratch_;
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
  bool WriteInfoCabinet();
  bool WritePayload();
  bool CopyGivenVolumes();
  bool WriteSetup();

  const Project& p_;
  const BuildOverrides& o_;
  BuildResult& r_;
  Diagnostics& d_;
  PendingOutputs pending_;
  std::string setupPath_, payloadPath_;
  PackageParts parts_;
  std::vector<CabEntry> entries_;
  CabSetSummary givenSet_;
  std::vector<std::string> inPlace_;  // given volumes that already lie beside Setup.exe
};

bool Build::LoadStub() {
  std::string path = !o_.stub.empty() ? o_.stub : p_.stub;
  if (path.empty()) {
    std::vector<std::string> looked;
    path = FindBuiltFile("veltra-stub.exe", "stub", looked);
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
  if (!ReadWholeFile(path, parts_.Stub)) return Error("Stub", path + ": cannot read the stub"), false;
  if (FindPackageBaseField(parts_.Stub, error) < 0) return Error("Stub", path + ": " + error), false;
  return true;
}

bool Build::LoadCabinetLibrary() {
  const std::string& given = !o_.cabinetLibrary.empty() ? o_.cabinetLibrary : p_.cabinetLibrary;
  const bool none = o_.cabinetLibrary == "none" || (o_.cabinetLibrary.empty() && p_.noCabinetLibrary);
  if (none) return true;
  std::string path = given;
  if (path.empty()) {
    std::vector<std::string> looked;
    path = FindBuiltFile("cabinet-veltra.dll", "fdi", looked);
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
      const std::string why = CheckInstallName(name);
      if (!why.empty()) d_.Warning(p_.cabinet, 0, "the stub cannot install this file as stored: " + why);
    }
    return true;
  }
  for (const PayloadFile& f : p_.files) {
    CabEntry e;
    e.storedName = f.storedName;
    e.sourcePath = f.sourcePath;
    if (!DosStampOfFile(f.sourcePath, e.stamp))
      return d_.Error(p_.path, f.line, "cannot read the time of " + f.sourcePath), false;
    e.attributes = HostCabAttributes(f.sourcePath);
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

bool Build::WriteInfoCabinet() {
  SetupScript script = p_.script;
  if (!p_.minFreeGiven) script.MinFree = int64_t(r_.payloadBytes);
  r_.minFree = script.MinFree;
  std::string scriptBytes, error;
  if (!WriteSetupScript(script, scriptBytes, error)) return d_.Error(p_.path, 0, error), false;
  std::vector<CabEntry> info;
  info.push_back(CabEntry{"~DAT1.", "", scriptBytes, DosStamp(), kCabAttrArchive});
  if (!p_.sidePicture.empty())
    info.push_back(CabEntry{"~DAT2A.", p_.sidePicture, "", DosStamp(), kCabAttrArchive});
  if (!p_.headerPicture.empty())
    info.push_back(CabEntry{"~DAT2B.", p_.headerPicture, "", DosStamp(), kCabAttrArchive});
  CabOptions options;
  options.level = 9;
  CabWriteResult written;
  const std::string temp = pending_.Scratch(setupPath_ + ".info.partial");
  if (!WriteCabinet(info, options, temp, written, error) || !ReadWholeFile(temp, parts_.InfoCab))
    return d_.Error(p_.path, 0, "information cabinet: " + error), false;
  std::remove(temp.c_str());
  return true;
}

bool Build::WritePayload() {
  if (!p_.cabinet.empty()) {
    payloadPath_ = p_.cabinet;
    return CopyGivenVolumes();
  }
  CabOptions options;
  options.compression = p_.compression;
  options.level = p_.level;
  if (p_.volumeSize) {
    const uint64_t before = parts_.Stub.size() + kPackageHeaderSize + parts_.LangText.size() +
                            parts_.CabLib.size() + parts_.InfoCab.size();
    if (before + kMinCabVolumeSize > p_.volumeSize) {
      Error("VolumeSize", "VolumeSize " + std::to_string(p_.volumeSize) + " leaves Setup.exe less than " +
                              std::to_string(kMinCabVolumeSize / 1024) + " KiB for payload after its " +
                              std::to_string(before) + " bytes of stub and package blocks");
      return false;
    }
    options.volumeSize = uint32_t(p_.volumeSize);
    options.firstVolumeSize = uint32_t(p_.volumeSize - before);
  }
  const bool scramble = !parts_.Password.empty();
  payloadPath_ = pending_.Scratch(setupPath_ + ".payload.partial");
  std::vector<std::string> plainVolumes;
  CabVolumeNamer namer = [&](int index) {
    if (index == 0) return CabVolumeName{payloadPath_, HostNameOf(setupPath_), "Disk 1"};
    const std::string name = VolumeFileName(setupPath_, index + 1);
    const std::string final = JoinHostPath(HostFolderOf(setupPath_), name);
    return CabVolumeName{scramble ? final + ".plain.partial" : final + ".partial", name,
                         "Disk " + std::to_string(index + 1)};
  };
  CabWriteResult written;
  std::string error;
  if (!WriteCabinetSet(entries_, options, namer, written, error)) return d_.Error(p_.path, 0, error), false;
  for (size_t i = 1; i < written.volumes.size(); ++i) {
    const std::string final = JoinHostPath(HostFolderOf(setupPath_), VolumeFileName(setupPath_, int(i) + 1));
    const std::string target = pending_.Add(final);
    if (scramble) {
      const std::string plain = pending_.Scratch(written.volumes[i].path);
      if (!CopyHostFile(plain, target, true, parts_.Password, error))
        return d_.Error(p_.path, 0, error), false;
      std::remove(plain.c_str());
    }
  }
  return true;
}

bool Build::CopyGivenVolumes() {
  for (size_t i = 0; i < givenSet_.volumeNames.size(); ++i) {
    const std::string final = JoinHostPath(HostFolderOf(setupPath_), givenSet_.volumeNames[i]);
    std::string error;
    if (SameHostFile(givenSet_.volumePaths[i + 1], final)) {
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

bool Build::WriteSetup() {
  std::string error;
  if (!WritePackageFile(parts_, payloadPath_, pending_.Add(setupPath_), error))
    return d_.Error(p_.path, 0, error), false;
  // Setup.exe goes first in the list of outputs.
  std::vector<std::string> finals;
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
  if (HostKindOf(HostFolderOf(setupPath_)) != HostKind::Folder)
    return d_.Error(p_.path, 0, "the output folder " + HostFolderOf(setupPath_) + " does not exist"), false;
  parts_.Password = o_.hasPassword ? o_.password : p_.password;
  parts_.LangText = p_.language.empty() ? WriteLangText(DefaultLangTable()) : p_.languageText;
  if (!LoadStub() || !LoadCabinetLibrary() || !PlanPayload() || !WriteInfoCabinet() || !WritePayload() ||
      !WriteSetup())
    return false;
  const std::string stale =
      JoinHostPath(HostFolderOf(setupPath_), VolumeFileName(setupPath_, int(r_.outputs.size()) + 1));
  if (HostKindOf(stale) == HostKind::File)
    d_.Warning(stale, 0, "left from an earlier build; this package does not use it");
  return true;
}

}  // namespace

bool BuildPackage(const Project& project, const BuildOverrides& overrides, BuildResult& result,
                  Diagnostics& diagnostics) {
  result = BuildResult();
  return Build(project, overrides, result, diagnostics).Run();
}
