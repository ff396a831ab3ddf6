#include "cabinet_writer.h"

#include <algorithm>
#include <memory>

#include "block_pipeline.h"
#include "format.h"

namespace cab {

namespace {

// Room kept free behind a data block so that the block after it can still be
// split: a CFDATA header and at least one byte.
constexpr uint64_t kTail = 16;
// What one more data block can take at most, header included.
constexpr uint64_t kWorstBlock = kDataHeaderSize + kMaxPayload;
// Bound on a volume's header without its lists: CFHEADER and four names.
constexpr uint64_t kWorstFixedHeader = kHeaderSize + 4 * (kMaxNameSize + 1);
constexpr size_t kMaxFilesPerCabinet = 65535;
constexpr size_t kMaxFoldersPerCabinet = 0xFFFC;  // the indexes above are the continuation marks

struct PlannedFile {
  const Entry* entry = nullptr;
  uint32_t size = 0;
  size_t entrySize = 0;  // its CFFILE with the name
};

// What follows the block being finished, for deciding whether it may stay
// whole in its volume.
struct Next {
  enum Kind { End, MoreOfFile, Files } kind = End;
  size_t first = 0;        // Files: the next file
  bool newFolder = false;  // Files: it opens a folder
};

std::string CheckVolumeName(const VolumeName& n, int index) {
  std::string where = "volume " + std::to_string(index + 1) + ": ";
  for (const std::string* s : {&n.cabinetName, &n.diskName}) {
    if (s->empty() || s->size() > kMaxNameSize || s->find('\0') != std::string::npos)
      return where + "cabinet and disk names must have 1 to 255 bytes";
  }
  if (n.cabinetName.find_first_of("\\/") != std::string::npos)
    return where + "the cabinet name must be a bare file name: " + n.cabinetName;
  if (n.path.empty()) return where + "no output path";
  return "";
}

uint16_t DeriveSetId(const std::vector<PlannedFile>& files) {
  uint32_t h = 2166136261u;  // FNV-1a over names and sizes
  auto mix = [&h](uint8_t b) { h = (h ^ b) * 16777619u; };
  for (const PlannedFile& f : files) {
    for (char c : f.entry->storedName) mix(uint8_t(c));
    for (int i = 0; i < 4; ++i) mix(uint8_t(f.size >> (8 * i)));
  }
  return uint16_t(h ^ (h >> 16));
}

class SetWriter {
 public:
  SetWriter(const std::vector<Entry>& entries, const WriteOptions& options, const VolumeNamer& namer,
            WriterFiles& files, bool single)
      : entries_(entries), options_(options), namer_(namer), io_(files), single_(single) {}

  bool Run(WriteResult& result, std::string& error);

 private:
  // set-up
  bool CheckOptions();
  bool PlanFiles();
  bool CheckGroupsFitVolumes();
  size_t PlannedSingleHeaderSize(size_t* folderCount = nullptr) const;
  // volumes
  bool OpenVolume(int index);
  bool CloseVolume(bool hasNext);
  uint64_t Capacity() const { return capacity_; }
  bool Fits(uint64_t moreHeader, uint64_t moreData) const;
  // folders and files
  bool NeedsNewFolder(size_t i) const;
  void OpenFolder();
  bool EndFolder(size_t nextFile);
  bool AddFile(size_t i);
  bool AdmitFile(size_t i);
  bool GroupFits(size_t first, bool newFolder, uint64_t dataBefore) const;
  void ListFile(size_t i, uint16_t folderIndex, uint32_t folderOffset);
  bool FeedFile(size_t i);
  // blocks
  bool FinishPending(bool lastInFolder, Next next);
  bool WriteBlock(const uint8_t* payload, size_t size, uint16_t uncompressed);
  bool SplitBlock(const std::vector<uint8_t>& payload, uint16_t uncompressed, bool folderEnds);
  bool StartPipeline();
  bool Fail(const std::string& why);

  const std::vector<Entry>& entries_;
  const WriteOptions& options_;
  const VolumeNamer& namer_;
  WriterFiles& io_;
  const bool single_;
  std::vector<StreamFile> stream_;
  std::unique_ptr<BlockPipeline> blocks_;
  std::string error_;
  WriteResult result_;
  std::vector<PlannedFile> files_;
  uint64_t carryLimit_ = 0;  // list bytes that may cross into a volume

  // the volume being written
  int volumeIndex_ = -1;
  VolumeName name_, nextName_;
  uint64_t capacity_ = 0;
  VolumeHeader header_;
  uint64_t headerBytes_ = 0;
  std::unique_ptr<VolumeOutput> out_;
  std::vector<std::string> written_;
  uint64_t fedBytes_ = 0;  // of all files so far, for the progress callback

  // the folder being written
  bool inFolder_ = false;
  bool folderMustEnd_ = false;  // it ran into this volume: the next file opens a folder
  uint64_t folderBytes_ = 0;
  uint64_t folderStart_ = 0;          // stream offsets, of the folder's first byte
  uint64_t pendingStart_ = 0;         // and of the block being filled
  uint32_t pendingSize_ = 0;          // its bytes so far
  std::vector<size_t> pendingFiles_;  // header_.files that touch it
  uint64_t pendingListBytes_ = 0;
  std::vector<uint8_t> payload_;
};

bool SetWriter::Fail(const std::string& why) {
  if (error_.empty()) error_ = why;
  return false;
}

bool SetWriter::CheckOptions() {
  if (options_.compression != Compression::Stored && options_.compression != Compression::MsZip &&
      options_.compression != Compression::Lzx)
    return Fail("unknown compression type");
  if (options_.compression == Compression::Lzx &&
      (options_.lzxWindow < kMinLzxWindow || options_.lzxWindow > kMaxLzxWindow))
    return Fail("the LZX window must be 15 to 21");
  if (options_.threads < 1) return Fail("the thread count must be at least 1");
  if (options_.segmentBlocks < 1) return Fail("a segment holds at least one block");
  if (options_.setId > 0xFFFF) return Fail("the set ID must lie in 0..65535");
  if (single_) return true;
  for (uint32_t size : {options_.volumeSize, options_.firstVolumeSize}) {
    if (size && size < kMinVolumeSize)
      return Fail("a volume must hold at least " + std::to_string(kMinVolumeSize) + " bytes");
  }
  return true;
}

bool SetWriter::PlanFiles() {
  files_.reserve(entries_.size());
  for (const Entry& e : entries_) {
    std::string why = CheckStoredName(e.storedName, options_.leadBytes);
    if (!why.empty()) return Fail(why);
    uint64_t size = e.content.size();
    if (!e.sourcePath.empty() && !io_.SourceSize(e.sourcePath, size))
      return Fail("cannot read the file " + e.sourcePath);
    if (size > kMaxFolderBytes) return Fail("the file is too large for a cabinet: " + e.storedName);
    files_.push_back({&e, uint32_t(size), FileEntrySize(e.storedName)});
    uint64_t start = stream_.empty() ? 0 : stream_.back().start + stream_.back().size;
    stream_.push_back({&e, start, size});
  }
  if (single_) {
    size_t folders = 0;
    PlannedSingleHeaderSize(&folders);
    if (files_.size() > kMaxFilesPerCabinet || folders > kMaxFoldersPerCabinet)
      return Fail("a cabinet holds at most 65535 files and 65532 folders");
  }
  return CheckGroupsFitVolumes();
}

// A file's list entry crosses into the next volume with the block it touches,
// and empty files travel with the next file that has data. Both must leave
// the next volume room for two worst-case blocks.
bool SetWriter::CheckGroupsFitVolumes() {
  if (single_) return true;
  uint64_t smallest = options_.volumeSize;
  if (options_.firstVolumeSize) smallest = std::min<uint64_t>(smallest, options_.firstVolumeSize);
  uint64_t reserved = kWorstFixedHeader + 2 * kFolderSize + 2 * kWorstBlock + kTail;
  carryLimit_ = (smallest - reserved) / 2;
  uint64_t group = 0;
  for (const PlannedFile& f : files_) {
    group += f.entrySize;
    if (group > carryLimit_)
      return Fail("too many empty files in a row for the volume size, at " + f.entry->storedName);
    if (f.size) group = 0;
  }
  return true;
}

// Mirrors the folder rule of NeedsNewFolder for a cabinet that is not split.
size_t SetWriter::PlannedSingleHeaderSize(size_t* folderCount) const {
  size_t size = kHeaderSize, folders = 0;
  uint64_t bytes = 0;
  for (const PlannedFile& f : files_) {
    size += f.entrySize;
    bool newFolder = folders == 0 || FolderIsFull(bytes, f.size, options_.folderTarget);
    if (newFolder) {
      ++folders;
      bytes = 0;
    }
    bytes += f.size;
  }
  if (folderCount) *folderCount = folders;
  return size + folders * kFolderSize;
}

bool SetWriter::OpenVolume(int index) {
  volumeIndex_ = index;
  header_ = VolumeHeader();
  header_.index = uint16_t(index);
  header_.setId = result_.setId;
  if (index > 0) {
    header_.hasPrev = true;
    header_.prevCabinet = name_.cabinetName;
    header_.prevDisk = name_.diskName;
  }
  name_ = index > 0 ? nextName_ : namer_(0);
  if (!single_) {
    nextName_ = namer_(index + 1);
    for (const auto& [n, i] : {std::pair{&name_, index}, std::pair{&nextName_, index + 1}}) {
      std::string why = CheckVolumeName(*n, i);
      if (!why.empty()) return Fail(why);
    }
    if (index > 0xFFFF) return Fail("too many volumes");
  } else if (name_.path.empty()) {
    return Fail("no output path for the cabinet");
  }
  // The next names are counted from the start; the last volume drops them.
  header_.hasNext = !single_;
  header_.nextCabinet = nextName_.cabinetName;
  header_.nextDisk = nextName_.diskName;
  headerBytes_ = FixedHeaderSize(header_);
  uint32_t limit = index == 0 && options_.firstVolumeSize ? options_.firstVolumeSize : options_.volumeSize;
  capacity_ = single_ ? kMaxCabinetSize : std::min<uint64_t>(limit, kMaxCabinetSize);
  size_t known = single_ ? PlannedSingleHeaderSize() : VolumeOutput::kUnknownHeader;
  out_ = io_.CreateVolume(name_.path, known, error_);
  return out_ != nullptr;
}

bool SetWriter::CloseVolume(bool hasNext) {
  header_.hasNext = hasNext;
  uint64_t headerSize = HeaderSize(header_);
  uint64_t total = headerSize + out_->DataSize();
  if (total > capacity_) {
    return Fail(single_
                    ? "the cabinet would be larger than 2 GiB"
                    : "internal error: volume " + std::to_string(volumeIndex_ + 1) + " is over its limit");
  }
  header_.cabinetSize = uint32_t(total);
  if (!out_->Finish(EncodeHeader(header_), error_)) return false;
  written_.push_back(name_.path);
  result_.volumes.push_back(
      {name_.path, total, uint32_t(header_.files.size()), uint32_t(header_.folders.size())});
  return true;
}

bool SetWriter::Fits(uint64_t moreHeader, uint64_t moreData) const {
  return headerBytes_ + moreHeader + out_->DataSize() + moreData <= Capacity();
}

bool SetWriter::NeedsNewFolder(size_t i) const {
  if (!inFolder_ || folderMustEnd_) return true;
  return FolderIsFull(folderBytes_, files_[i].size, options_.folderTarget);
}

void SetWriter::OpenFolder() {
  inFolder_ = true;
  folderMustEnd_ = false;
  folderBytes_ = 0;
  folderStart_ = pendingStart_ + pendingSize_;
  header_.folders.push_back({uint32_t(out_->DataSize()), 0, TypeCompress(options_)});
  headerBytes_ += kFolderSize;
  pendingStart_ = folderStart_;
  pendingSize_ = 0;
  pendingFiles_.clear();
  pendingListBytes_ = 0;
}

bool SetWriter::EndFolder(size_t nextFile) {
  if (pendingSize_) {
    Next next;
    if (nextFile < files_.size()) next = {Next::Files, nextFile, true};
    if (!FinishPending(true, next)) return false;
  }
  inFolder_ = false;
  folderMustEnd_ = false;
  return true;
}

// Whether the files from `first` up to the first one with data can still be
// listed in this volume after `dataBefore` more bytes, with room left for the
// start of the block they touch, which can always be split off there.
bool SetWriter::GroupFits(size_t first, bool newFolder, uint64_t dataBefore) const {
  uint64_t list = 0;
  size_t count = 0;
  for (size_t i = first; i < files_.size(); ++i) {
    list += files_[i].entrySize;
    ++count;
    if (files_[i].size) break;
  }
  if (single_) return true;  // the counts were checked when planning
  if (header_.files.size() + count > kMaxFilesPerCabinet) return false;
  if (newFolder && header_.folders.size() + 1 > kMaxFoldersPerCabinet) return false;
  uint64_t carried = (newFolder || dataBefore ? 0 : pendingListBytes_) + list;
  uint64_t folder = newFolder ? kFolderSize : 0;
  return carried <= carryLimit_ && Fits(list + folder, dataBefore + kDataHeaderSize + kTail);
}

void SetWriter::ListFile(size_t i, uint16_t folderIndex, uint32_t folderOffset) {
  const PlannedFile& f = files_[i];
  VolumeFile entry;
  entry.size = f.size;
  entry.folderOffset = folderOffset;
  entry.folderIndex = folderIndex;
  entry.stamp = f.entry->stamp;
  entry.attributes = f.entry->attributes & kAttrAllowed;
  entry.name = f.entry->storedName;
  header_.files.push_back(entry);
  headerBytes_ += f.entrySize;
  pendingFiles_.push_back(header_.files.size() - 1);
  pendingListBytes_ += f.entrySize;
}

// Lists file i in the current volume. When the file would not fit beside the
// block it lands in, the folder ends first, and with it the volume if need be.
bool SetWriter::AdmitFile(size_t i) {
  if (!GroupFits(i, false, 0)) {
    if (!pendingSize_ || !FinishPending(true, {Next::Files, i, true})) {
      return Fail("volume " + std::to_string(volumeIndex_ + 1) + " is too small for the list entry of " +
                  files_[i].entry->storedName);
    }
    inFolder_ = false;
    OpenFolder();
    if (!GroupFits(i, false, 0)) return Fail("internal error: no room for " + files_[i].entry->storedName);
  }
  ListFile(i, uint16_t(header_.folders.size() - 1), uint32_t(folderBytes_));
  return true;
}

bool SetWriter::AddFile(size_t i) {
  if (NeedsNewFolder(i)) {
    if (inFolder_ && !EndFolder(i)) return false;
    OpenFolder();
  } else if (files_[i].size && pendingSize_ == kBlockSize) {
    if (!FinishPending(false, {Next::Files, i, false})) return false;
    if (folderMustEnd_) {  // that block ended its volume, and with it the folder
      inFolder_ = false;
      OpenFolder();
    }
  }
  return AdmitFile(i) && FeedFile(i);
}

// Counts the file's bytes into blocks; the pipeline reads them. An empty
// file is opened all the same, so that one that went missing fails the build.
bool SetWriter::FeedFile(size_t i) {
  uint64_t left = files_[i].size;
  if (!left && !io_.OpenEntry(*files_[i].entry, 0, error_)) return false;
  while (left) {
    if (pendingSize_ == kBlockSize && !FinishPending(false, {Next::MoreOfFile})) return false;
    uint32_t n = uint32_t(std::min<uint64_t>(left, kBlockSize - pendingSize_));
    pendingSize_ += n;
    folderBytes_ += n;
    left -= n;
    fedBytes_ += n;
    if (options_.progress && left) options_.progress(i, fedBytes_);
  }
  if (options_.progress) options_.progress(i + 1, fedBytes_);
  return true;
}

bool SetWriter::WriteBlock(const uint8_t* payload, size_t size, uint16_t uncompressed) {
  uint8_t head[kDataHeaderSize];
  EncodeDataHeader(head, payload, uint16_t(size), uncompressed);
  header_.folders.back().blockCount++;
  return out_->Write(head, sizeof head, error_) && out_->Write(payload, size, error_);
}

// Encodes the pending block and stores it whole, or splits it across the end
// of this volume when it does not fit or when what follows could not be
// listed here any more.
bool SetWriter::FinishPending(bool lastInFolder, Next next) {
  bool encoderFailed = false;
  std::string why;
  if (!blocks_->Take({folderStart_, pendingStart_, pendingSize_, lastInFolder}, payload_, why,
                     encoderFailed)) {
    if (!encoderFailed) return Fail(why);
    return Fail(options_.compression == Compression::Lzx
                    ? "the LZX encoder wrote a block that our decompressor does not read back as its bytes"
                    : "the deflate compressor failed");
  }
  const uint16_t uncompressed = uint16_t(pendingSize_);
  const uint64_t block = kDataHeaderSize + payload_.size();
  bool whole = single_ || Fits(0, block + (next.kind == Next::End ? 0 : kTail));
  if (whole && next.kind == Next::Files) whole = GroupFits(next.first, next.newFolder, block);
  bool ok = whole ? WriteBlock(payload_.data(), payload_.size(), uncompressed)
                  : SplitBlock(payload_, uncompressed, next.kind != Next::MoreOfFile);
  pendingStart_ += pendingSize_;
  pendingSize_ = 0;
  if (whole) {  // only a file that goes on touches the next block
    pendingFiles_.clear();
    pendingListBytes_ = 0;
    if (next.kind == Next::MoreOfFile) {
      pendingFiles_.push_back(header_.files.size() - 1);
      pendingListBytes_ = FileEntrySize(header_.files.back().name);
    }
  }
  return ok;
}

// Ends the volume inside this block: the files that touch it are marked as
// running on, listed again at the start of the next volume, where the rest of
// the block opens their folder's continuation.
bool SetWriter::SplitBlock(const std::vector<uint8_t>& payload, uint16_t uncompressed, bool folderEnds) {
  uint64_t room = Capacity() - headerBytes_ - out_->DataSize();
  if (room <= kDataHeaderSize) return Fail("internal error: no room left to split a block");
  size_t first =
      payload.size() == 1 ? 1 : size_t(std::min<uint64_t>(room - kDataHeaderSize, payload.size() - 1));
  if (!WriteBlock(payload.data(), first, 0)) return false;
  std::vector<VolumeFile> carried;
  for (size_t k : pendingFiles_) {
    VolumeFile& f = header_.files[k];
    carried.push_back(f);
    f.folderIndex =
        f.folderIndex == kFolderContinuedFromPrev ? kFolderContinuedPrevAndNext : kFolderContinuedToNext;
  }
  if (!CloseVolume(true) || !OpenVolume(volumeIndex_ + 1)) return false;
  header_.folders.push_back({0, 0, TypeCompress(options_)});
  headerBytes_ += kFolderSize;
  pendingFiles_.clear();
  pendingListBytes_ = 0;
  for (VolumeFile& f : carried) {
    f.folderIndex = kFolderContinuedFromPrev;
    header_.files.push_back(f);
    headerBytes_ += FileEntrySize(f.name);
  }
  if (!folderEnds) {  // the last of them goes on into the next block
    pendingFiles_.push_back(header_.files.size() - 1);
    pendingListBytes_ = FileEntrySize(carried.back().name);
  }
  folderMustEnd_ = true;
  if (!WriteBlock(payload.data() + first, payload.size() - first, uncompressed)) return false;
  if (!Fits(0, folderEnds ? 0 : kTail)) return Fail("the volume size is too small for this file list");
  return true;
}

bool SetWriter::StartPipeline() {
  PipelineSettings settings;
  settings.compression = options_.compression;
  settings.level = options_.level;
  settings.lzxWindow = options_.lzxWindow;
  settings.threads = options_.threads;
  settings.segmentBlocks = options_.segmentBlocks;
  settings.folderTarget = options_.folderTarget;
  settings.singleCabinet = single_;
  blocks_ = std::make_unique<BlockPipeline>(stream_, io_, settings);
  return blocks_->Ready() || Fail("cannot set up the compressor");
}

bool SetWriter::Run(WriteResult& result, std::string& error) {
  bool ok = CheckOptions() && PlanFiles() && StartPipeline();
  if (ok) {
    result_.setId = options_.setId >= 0 ? uint16_t(options_.setId) : DeriveSetId(files_);
    ok = OpenVolume(0);
  }
  for (size_t i = 0; ok && i < files_.size(); ++i) {
    ok = AddFile(i);
    result_.uncompressedBytes += files_[i].size;
  }
  if (ok && inFolder_) ok = EndFolder(files_.size());
  if (ok) ok = CloseVolume(false);
  blocks_.reset();  // its threads end before the files are dealt with
  if (!ok) {
    if (out_) out_->Abandon();
    for (const std::string& path : written_) io_.Remove(path);
    error = error_.empty() ? "the cabinet could not be written" : error_;
    return false;
  }
  result = result_;
  return true;
}

}  // namespace

bool EntryReader::Skip(uint64_t count, std::string& error) {
  uint8_t buffer[4096];
  while (count) {
    long n = Read(buffer, size_t(std::min<uint64_t>(count, sizeof buffer)), error);
    if (n < 0) return false;
    if (n == 0) return error = "internal error: skipped past the end of a source", false;
    count -= uint64_t(n);
  }
  return true;
}

uint16_t TypeCompress(const WriteOptions& options) {
  if (options.compression == Compression::Lzx) return CompressionType(kCompressLzx, options.lzxWindow);
  return uint16_t(options.compression);
}

bool WriteCabinetSet(const std::vector<Entry>& entries, const WriteOptions& options, const VolumeNamer& namer,
                     WriterFiles& files, WriteResult& result, std::string& error) {
  if (!namer) {
    error = "no volume names";
    return false;
  }
  SetWriter writer(entries, options, namer, files, options.volumeSize == 0);
  return writer.Run(result, error);
}

bool WriteCabinet(const std::vector<Entry>& entries, const WriteOptions& options, const std::string& path,
                  WriterFiles& files, WriteResult& result, std::string& error) {
  WriteOptions single = options;
  single.volumeSize = 0;
  single.firstVolumeSize = 0;
  VolumeNamer namer = [&path](int) { return VolumeName{path, "", ""}; };
  SetWriter writer(entries, single, namer, files, true);
  return writer.Run(result, error);
}

}  // namespace cab
