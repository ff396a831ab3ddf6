#include "pkgreader.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "byteorder.h"
#include "cabinet_writer.h"
#include "cabinspect.h"
#include "codepage.h"
#include "crc32.h"
#include "fdi_interface.h"
#include "hostfiles.h"
#include "outputfolder.h"
#include "package.h"
#include "packagebase.h"
#include "uTrans.h"
#include "storednames.h"
#include "uObfuscate.h"

bool OpenPackageImage(const std::string& path, PackageImage& image, std::string& error) {
  image = PackageImage();
  image.path = path;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return error = path + ": cannot open", false;
  // The tag lies in the stub, near the start; a payload may hold it again.
  std::string window;
  char chunk[65536];
  size_t n;
  while (image.baseField < 0 && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    const size_t keep = window.size() > kPackageBaseTagSize + 4 ? kPackageBaseTagSize + 4 : window.size();
    const uint64_t windowStart = image.fileSize - keep;
    window = window.substr(window.size() - keep) + std::string(chunk, n);
    image.fileSize += n;
    const size_t at = window.find(std::string(VELTRA_PACKAGE_BASE_TAG, kPackageBaseTagSize));
    if (at != std::string::npos && at + kPackageBaseTagSize + 4 <= window.size()) {
      image.baseField = int64_t(windowStart + at + kPackageBaseTagSize);
      const uint8_t* v = reinterpret_cast<const uint8_t*>(window.data()) + at + kPackageBaseTagSize;
      image.base = int32_t(ReadLe32(v));
    }
  }
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) image.fileSize += n;
  std::fclose(f);
  if (image.baseField < 0) return error = path + ": not a Veltra Setup.exe (no PackageBase tag)", false;
  if (image.base <= 0) return error = path + ": a stub without a package (PackageBase is 0)", false;
  std::string headerBytes;
  if (!ReadPackageBlock(image, image.base, kPackageHeaderSize, headerBytes))
    return error = path + ": PackageBase " + std::to_string(image.base) + " lies beyond the end of the file",
           false;
  image.header = DecodePackageHeader(reinterpret_cast<const uint8_t*>(headerBytes.data()));
  if (!HasPackageMagic(image.header)) return error = path + ": no package header at PackageBase", false;
  const PackageLayoutFault fault = CheckPackageLayout(image.base, image.header, int64_t(image.fileSize));
  if (fault != PackageLayoutFault::None)
    return error = path + ": damaged package: " + PackageLayoutFaultText(fault), false;
  image.blocks = ComputePackageBlocks(image.base, image.header);
  std::string langText;
  if (ReadPackageBlock(image, image.blocks.LangText, image.header.LangTextSize, langText)) {
    const int recorded = LangTextCodePage(langText);
    if (IsSupportedCodePage(recorded)) image.codePage = recorded;
    image.codePageRecorded = recorded != 0;
  }
  return true;
}

bool ReadPackageBlock(const PackageImage& image, int64_t offset, int64_t size, std::string& bytes) {
  if (offset < 0 || size < 0 || uint64_t(offset + size) > image.fileSize) return false;
  std::FILE* f = std::fopen(image.path.c_str(), "rb");
  if (!f) return false;
  bytes.assign(size_t(size), '\0');
  const bool ok =
      fseeko(f, offset, SEEK_SET) == 0 && std::fread(&bytes[0], 1, bytes.size(), f) == bytes.size();
  std::fclose(f);
  return ok;
}

namespace {

// One stream that FDI reads or writes. Cabinets are read descrambled from
// `start` in their file; outputs go to a file, to memory or nowhere.
struct Stream {
  enum Kind { Cabinet, File, Memory, Null } kind = Null;
  std::FILE* file = nullptr;
  int64_t start = 0;
  int64_t length = -1;  // Cabinet: bytes available from `start`
  bool scrambled = false;
  int64_t position = 0;
  std::string name;                // the stored name of an output
  std::vector<std::string> parts;  // a File output's place below the target
  bool finished = false;           // a File output is complete
  std::string memory;
  uint64_t expected = 0;
  uint32_t crc = 0;      // of what was written
  size_t fileIndex = 0;  // of an output in PayloadWalk::files
  ~Stream() {
    if (file) std::fclose(file);
  }
};

// FDI's callbacks carry no context of their own, so the one reading session
// lives here; sessions never overlap.
struct Session {
  const PackageImage* image = nullptr;
  std::string invertedKey;
  int64_t embeddedStart = 0, embeddedLength = -1;
  bool embeddedScrambled = false;
  bool volumesScrambled = false;
  PayloadAction action = PayloadAction::List;
  bool info = false;               // reading the information cabinet into `infoFiles`
  OutputFolder* output = nullptr;  // Extract's target
  bool overwrite = false;
  uint64_t infoBytes = 0;  // of the information cabinet's entries so far
  std::vector<std::unique_ptr<Stream>> streams;
  std::map<std::string, std::string>* infoFiles = nullptr;
  PayloadWalk* walk = nullptr;
  int volume = 1;              // of the cabinet being run, from 1
  std::string nextName;        // the next volume named by the cabinet being run
  std::string located;         // the last volume FDI went on into during the run
  std::set<std::string> seen;  // volumes entered so far, Setup.exe among them
  std::string error;
};
Session* g_session = nullptr;

Stream* StreamOf(intptr_t h) {
  if (!g_session || h <= 0 || size_t(h) > g_session->streams.size()) return nullptr;
  return g_session->streams[size_t(h - 1)].get();
}

intptr_t AddStream(std::unique_ptr<Stream> s) {
  g_session->streams.push_back(std::move(s));
  return intptr_t(g_session->streams.size());
}

void* FDIAPI Alloc(unsigned long size) { return ::operator new(size, std::nothrow); }
void FDIAPI Free(void* p) { ::operator delete(p); }

intptr_t FDIAPI OpenCabinet(char* name, int, int) {
  std::unique_ptr<Stream> s(new Stream);
  s->kind = Stream::Cabinet;
  const bool embedded = std::strcmp(name, kVirtualCabName) == 0;
  s->file = std::fopen(embedded ? g_session->image->path.c_str() : name, "rb");
  if (!s->file) return -1;
  s->start = embedded ? g_session->embeddedStart : 0;
  s->length = embedded ? g_session->embeddedLength : -1;
  s->scrambled = embedded ? g_session->embeddedScrambled : g_session->volumesScrambled;
  if (s->length < 0) {
    if (fseeko(s->file, 0, SEEK_END) != 0) return -1;
    s->length = int64_t(ftello(s->file)) - s->start;
  }
  return AddStream(std::move(s));
}

unsigned int FDIAPI ReadStream(intptr_t h, void* buffer, unsigned int count) {
  Stream* s = StreamOf(h);
  if (!s || s->kind != Stream::Cabinet) return unsigned(-1);
  const int64_t left = s->length - s->position;
  const unsigned int want = left <= 0 ? 0 : left < int64_t(count) ? unsigned(left) : count;
  if (want == 0) return 0;
  if (fseeko(s->file, s->start + s->position, SEEK_SET) != 0) return unsigned(-1);
  const size_t got = std::fread(buffer, 1, want, s->file);
  if (s->scrambled)
    DescrambleAt(static_cast<uint8_t*>(buffer), g_session->invertedKey, got, uint32_t(s->position));
  s->position += int64_t(got);
  return unsigned(got);
}

unsigned int FDIAPI WriteStream(intptr_t h, void* buffer, unsigned int count) {
  Stream* s = StreamOf(h);
  if (!s || s->kind == Stream::Cabinet) return unsigned(-1);
  if (s->kind == Stream::File && std::fwrite(buffer, 1, count, s->file) != count) return unsigned(-1);
  if (s->kind == Stream::Memory) s->memory.append(static_cast<const char*>(buffer), count);
  s->crc = Crc32Update(s->crc, static_cast<const uint8_t*>(buffer), count);
  s->position += count;
  return count;
}

int FDIAPI CloseStream(intptr_t h) {
  Stream* s = StreamOf(h);
  if (!s) return -1;
  const bool ok = !s->file || std::fclose(s->file) == 0;
  s->file = nullptr;
  return ok ? 0 : -1;
}

long FDIAPI SeekStream(intptr_t h, long distance, int origin) {
  Stream* s = StreamOf(h);
  if (!s || s->kind != Stream::Cabinet) return -1;
  const int64_t from = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? s->position : s->length;
  const int64_t to = from + distance;
  if (to < 0) return -1;
  s->position = to;
  return long(to);
}

}  // namespace

namespace {

intptr_t CopyFile(FDINOTIFICATION* n) {
  Session& s = *g_session;
  PackageFile file{n->psz1, uint32_t(n->cb), n->date, n->time, n->attribs, s.volume};
  std::unique_ptr<Stream> out(new Stream);
  out->name = file.name;
  out->expected = file.size;
  if (s.info) {
    // Checked against the whole cabinet before; this keeps the bound
    // whatever FDI is told.
    s.infoBytes += file.size;
    if (s.infoBytes > kMaxInfoCabinetBytes) return s.error = "the entries hold too much data", -1;
    out->kind = Stream::Memory;
    return AddStream(std::move(out));
  }
  s.walk->files.push_back(file);
  out->fileIndex = s.walk->files.size() - 1;
  if (s.action == PayloadAction::List) return 0;
  if (s.action == PayloadAction::Extract) {
    const int codePage = s.image->codePage;
    const std::string why = MapExtractName(file.name, codePage, out->parts);
    if (!why.empty())
      return s.error = "refusing to write the stored name " + TerminalText(file.name, codePage) + ": " + why,
             -1;
    // Names are stored in the package's code page; the host names files in its own.
    for (std::string& part : out->parts) part = HostNameOfUtf8(CodePageToUtf8(part, codePage));
    std::string shown;
    switch (s.output->Create(out->parts, s.overwrite, out->file, shown, s.error)) {
      case OutputFolder::Outcome::Refused: return s.error = TerminalText(s.error), -1;
      case OutputFolder::Outcome::Kept: s.walk->kept.push_back(shown); return 0;
      case OutputFolder::Outcome::Created: break;
    }
    out->kind = Stream::File;
  }
  return AddStream(std::move(out));
}

intptr_t CloseFile(FDINOTIFICATION* n) {
  Session& s = *g_session;
  Stream* out = StreamOf(n->hf);
  if (!out) return 0;
  bool closed = true;
  if (out->kind == Stream::File) {
    closed = s.output->Finish(out->file, n->date, n->time, uint16_t(n->attribs & cab::kAttrAllowed));
    out->file = nullptr;
  } else {
    closed = CloseStream(n->hf) == 0;
  }
  if (!closed || uint64_t(out->position) != out->expected) {
    s.error = TerminalText(out->name, s.image->codePage) + ": " +
              (closed ? "the data does not have the stored size" : "cannot write");
    return -1;
  }
  out->finished = true;
  if (s.info) (*s.infoFiles)[out->name] = out->memory;
  if (!s.info) {
    s.walk->bytes += out->expected;
    s.walk->files[out->fileIndex].crc = out->crc;
  }
  return 1;
}

intptr_t FDIAPI Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* n) {
  Session& s = *g_session;
  switch (type) {
    case fdintCABINET_INFO:
      if (s.nextName == "\x01") {
        s.nextName = n->psz1 ? n->psz1 : "";
        s.volume = n->iCabinet + 1;
      }
      return 0;
    case fdintCOPY_FILE: return CopyFile(n);
    case fdintCLOSE_FILE_INFO: return CloseFile(n);
    case fdintNEXT_CABINET: {
      // Follow-up volumes lie beside Setup.exe, where the stub looks first.
      const std::string folder = HostFolderOf(s.image->path);
      if (std::strpbrk(n->psz1, "/\\:") || std::strcmp(n->psz1, "..") == 0)
        return s.error = "the next volume's name " + TerminalText(n->psz1) + " is not a bare file name", -1;
      const std::string path = JoinHostPath(folder, n->psz1);
      if (n->fdie != FDIERROR_NONE || HostKindOf(path) != HostKind::File) {
        s.error = "the volume " + TerminalText(path) +
                  (n->fdie != FDIERROR_NONE ? " does not continue the set" : " is missing");
        return -1;
      }
      const std::string withSlash = JoinHostPath(folder, "");
      if (withSlash.size() + 1 >= CB_MAX_CAB_PATH) return s.error = "the folder path is too long for FDI", -1;
      if (!s.info && !s.seen.insert(n->psz1).second)
        return s.error = "the set goes back to the volume " + TerminalText(n->psz1) + ", already read", -1;
      std::strcpy(n->psz3, withSlash.c_str());
      s.located = n->psz1;
      if (!s.info) s.walk->volumes.push_back(s.located);
      return 0;
    }
    default: return 0;
  }
}

const char* FdiErrorText(int code) {
  static const char* const texts[] = {"no error",
                                      "cabinet not found",
                                      "not a cabinet",
                                      "unknown cabinet version",
                                      "corrupt cabinet",
                                      "out of memory",
                                      "unknown compression type",
                                      "decompression failed",
                                      "cannot write a file",
                                      "reserved sizes differ between volumes",
                                      "wrong cabinet in the set",
                                      "aborted",
                                      "unexpected end of cabinet"};
  return code >= 0 && code <= 12 ? texts[code] : "unknown error";
}

// The file table of the cabinet FDI is about to run, read the way
// OpenCabinet presents it. Every folder is to be decoded once, so entries
// must follow one another; the information cabinet's entries must also fit
// kMaxInfoCabinetBytes. False with s.error set.
bool CheckCabinetTable(const std::string& name, const std::string& folder) {
  Session& s = *g_session;
  const bool embedded = name == kVirtualCabName;
  const std::string path = embedded ? s.image->path : folder + name;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!f || fseeko(f.get(), 0, SEEK_END) != 0) return s.error = "cannot open " + TerminalText(path), false;
  const int64_t start = embedded ? s.embeddedStart : 0;
  const int64_t available =
      embedded && s.embeddedLength >= 0 ? s.embeddedLength : int64_t(ftello(f.get())) - start;
  const bool scrambled = embedded ? s.embeddedScrambled : s.volumesScrambled;
  const CabHeadReader read = [&](size_t limit, std::string& bytes) {
    bytes.assign(limit, '\0');
    if (fseeko(f.get(), start, SEEK_SET) != 0) return false;
    bytes.resize(std::fread(&bytes[0], 1, limit, f.get()));
    if (scrambled) DescrambleAt(reinterpret_cast<uint8_t*>(&bytes[0]), s.invertedKey, bytes.size(), 0);
    return !std::ferror(f.get());
  };
  CabHeaderSummary summary;
  std::string error;
  if (available < 0 || !ReadCabHeaderSummary(read, uint64_t(available),
                                             TerminalText(embedded ? "the cabinet" : name), summary, error))
    return s.error = error, false;
  error = CheckFileOrder(summary);
  if (!error.empty()) return s.error = TerminalText(error), false;
  if (!s.info) return true;
  uint64_t total = 0, reach = 0;
  for (const CabHeaderSummary::File& file : summary.files) {
    total += file.size;
    reach = std::max<uint64_t>(reach, uint64_t(file.folderOffset) + file.size);
  }
  if (total > kMaxInfoCabinetBytes || reach > kMaxInfoCabinetBytes)
    return s.error = "its entries claim " + std::to_string(std::max(total, reach)) +
                     " bytes, more than the " + std::to_string(kMaxInfoCabinetBytes >> 20) +
                     " MiB an information cabinet may hold",
           false;
  return true;
}

// Runs FDICopy once on one cabinet; false with s.error set.
bool RunCopy(HFDI fdi, ERF& erf, const std::string& name, const std::string& folder) {
  Session& s = *g_session;
  s.nextName = "\x01";  // the first CABINET_INFO of the run names the next volume
  s.located.clear();
  if (!CheckCabinetTable(name, folder)) return false;
  std::string nameBuffer = name, folderBuffer = folder;
  if (FDICopy(fdi, &nameBuffer[0], &folderBuffer[0], 0, Notify, nullptr, nullptr)) return true;
  if (s.error.empty()) s.error = std::string("FDI: ") + FdiErrorText(erf.erfOper);
  return false;
}

class SessionScope {
 public:
  SessionScope(Session& s, const PackageImage& image, const std::string& password) {
    s.image = &image;
    s.invertedKey = InvertKey(MakeScrambleKey(password));
    g_session = &s;
    fdi_ = FDICreate(Alloc, Free, OpenCabinet, ReadStream, WriteStream, CloseStream, SeekStream, cpuUNKNOWN,
                     &erf_);
  }
  ~SessionScope() {
    if (fdi_) FDIDestroy(fdi_);
    g_session = nullptr;
  }
  HFDI Fdi() const { return fdi_; }
  ERF& Erf() { return erf_; }

 private:
  HFDI fdi_ = nullptr;
  ERF erf_{};
};

}  // namespace

bool ReadInfoCabinet(const PackageImage& image, const std::string& password,
                     std::map<std::string, std::string>& files, std::string& error) {
  Session s;
  s.info = true;
  s.infoFiles = &files;
  s.embeddedStart = image.blocks.InfoCab;
  s.embeddedLength = image.header.InfoCabSize;
  s.embeddedScrambled = true;
  SessionScope scope(s, image, password);
  if (!scope.Fdi()) return error = "cannot set up FDI", false;
  if (!RunCopy(scope.Fdi(), scope.Erf(), kVirtualCabName, "")) {
    error = "information cabinet: " + s.error +
            (image.header.PasswordProtected ? " (is the password right?)" : "");
    return false;
  }
  return true;
}

namespace {

// Runs FDI over the payload volume after volume, the way the stub does.
bool WalkVolumes(SessionScope& scope, Session& s, const PackageImage& image, PayloadWalk& walk,
                 std::string& error) {
  std::string name = kVirtualCabName, folder;
  while (true) {
    if (!RunCopy(scope.Fdi(), scope.Erf(), name, folder))
      return error = "payload volume " + std::to_string(s.volume) + ": " + s.error, false;
    if (s.action == PayloadAction::List) {
      // Only the file lists are read, so every volume is opened in turn.
      if (s.nextName.empty() || s.nextName == "\x01") return true;
      name = s.nextName;
      if (!s.seen.insert(name).second)
        return error = "payload volume " + std::to_string(s.volume) + " names the volume " +
                       TerminalText(name) + ", already read",
               false;
      walk.volumes.push_back(name);
    } else if (!s.located.empty()) {
      // As the stub does: the next run starts in the last volume FDI went
      // on into, for the files that begin there...
      name = s.located;
    } else if (!s.nextName.empty() && s.nextName != "\x01") {
      // ...or, when no file carried FDI across, in the volume announced.
      name = s.nextName;
      if (!s.seen.insert(name).second)
        return error = "payload volume " + std::to_string(s.volume) + " names the volume " +
                       TerminalText(name) + ", already read",
               false;
      walk.volumes.push_back(name);
    } else {
      return true;
    }
    folder = JoinHostPath(HostFolderOf(image.path), "");
    if (HostKindOf(folder + name) != HostKind::File)
      return error = "the volume " + TerminalText(folder + name) + " is missing", false;
  }
}

// Extract's preparation: the whole set listed first, so that every name is
// checked before anything is written and the package's own files (found by
// the listing) are protected from being written over.
bool PrepareExtract(const PackageImage& image, const std::string& password, const ExtractTarget& target,
                    OutputFolder& output, std::string& error) {
  PayloadWalk listed;
  if (!WalkPayload(image, password, PayloadAction::List, target, listed, error)) return false;
  std::vector<std::string> parts;
  for (const PackageFile& f : listed.files) {
    const std::string why = MapExtractName(f.name, image.codePage, parts);
    if (!why.empty())
      return error = "refusing to write the stored name " + TerminalText(f.name, image.codePage) + ": " +
                     why + "; nothing written",
             false;
  }
  if (!output.Open(target.folder, error)) return false;
  HostFileId id;
  if (HostFileIdOf(image.path, id)) output.Protect(id);
  for (size_t i = 1; i < listed.volumes.size(); ++i) {
    if (HostFileIdOf(JoinHostPath(HostFolderOf(image.path), listed.volumes[i]), id)) output.Protect(id);
  }
  return true;
}

}  // namespace

bool WalkPayload(const PackageImage& image, const std::string& password, PayloadAction action,
                 const ExtractTarget& target, PayloadWalk& walk, std::string& error) {
  OutputFolder output;
  if (action == PayloadAction::Extract && !PrepareExtract(image, password, target, output, error))
    return false;
  Session s;
  s.action = action;
  s.output = &output;
  s.overwrite = target.overwrite;
  s.walk = &walk;
  s.embeddedStart = image.blocks.Payload;
  s.embeddedScrambled = s.volumesScrambled = image.header.PasswordProtected != 0;
  SessionScope scope(s, image, password);
  if (!scope.Fdi()) return error = "cannot set up FDI", false;
  walk.volumes.push_back(HostNameOf(image.path));
  s.seen.insert(HostNameOf(image.path));
  const bool done = WalkVolumes(scope, s, image, walk, error);
  // A file left unfinished by a failure does not stay behind half written.
  for (const auto& stream : s.streams) {
    if (stream->kind == Stream::File && !stream->finished) {
      if (stream->file) std::fclose(stream->file);
      stream->file = nullptr;
      output.Discard(stream->parts);
    }
  }
  return done;
}
