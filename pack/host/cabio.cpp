#include "cabio.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>

#include "hostfiles.h"

namespace {

constexpr size_t kReadChunk = 1 << 20;
constexpr size_t kWriteBuffer = 1 << 20;

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

bool CabSourceSize(const std::string& path, uint64_t& size) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = uint64_t(st.st_size);
  return true;
}

CabSourceReader::~CabSourceReader() { Close(); }

void CabSourceReader::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool CabSourceReader::Open(const cab::Entry& entry, uint64_t expectedSize, std::string& error) {
  Close();
  entry_ = &entry;
  expected_ = expectedSize;
  done_ = 0;
  if (entry.sourcePath.empty()) return true;
  file_ = std::fopen(entry.sourcePath.c_str(), "rb");
  if (!file_) {
    error = SystemError("cannot open", entry.sourcePath);
    return false;
  }
  return true;
}

long CabSourceReader::Read(uint8_t* out, size_t limit, std::string& error) {
  if (!file_) {  // in-memory content
    size_t n = std::min<uint64_t>(limit, entry_->content.size() - done_);
    std::memcpy(out, entry_->content.data() + done_, n);
    done_ += n;
    return long(n);
  }
  size_t want = size_t(std::min<uint64_t>(limit, expected_ - done_));
  size_t got = want ? std::fread(out, 1, want, file_) : 0;
  if (got < want && std::ferror(file_)) {
    error = SystemError("cannot read", entry_->sourcePath);
    return -1;
  }
  done_ += got;
  bool atPlannedEnd = done_ == expected_;
  if (got < want || (atPlannedEnd && std::fgetc(file_) != EOF)) {
    error = "the file changed its size while it was packed: " + entry_->sourcePath;
    return -1;
  }
  if (atPlannedEnd) Close();
  return long(got);
}

bool CabSourceReader::Skip(uint64_t count, std::string& error) {
  if (count >= expected_ - done_) return cab::EntryReader::Skip(count, error);
  if (file_ && fseeko(file_, off_t(done_ + count), SEEK_SET) != 0) {
    error = SystemError("cannot read", entry_->sourcePath);
    return false;
  }
  done_ += count;
  return true;
}

CabVolumeOutput::~CabVolumeOutput() { Abandon(); }

bool CabVolumeOutput::Open(const std::string& path, size_t headerSize, std::string& error) {
  path_ = path;
  headerSize_ = headerSize;
  dataSize_ = 0;
  const bool direct = headerSize != kUnknownHeader;
  spoolPath_ = direct ? "" : PartialNameFor(path) + "~";
  if (!direct) RegisterPartialFile(spoolPath_);
  const std::string& target = direct ? path_ : spoolPath_;
  file_ = CreateFreshHostFile(target, !direct, error);
  if (!file_) return false;
  buffer_.resize(kWriteBuffer);
  std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
  if (direct && fseeko(file_, off_t(headerSize), SEEK_SET) != 0) {
    error = SystemError("cannot seek in", target);
    return false;
  }
  return true;
}

bool CabVolumeOutput::Write(const void* data, size_t size, std::string& error) {
  if (size && std::fwrite(data, 1, size, file_) != size) {
    error = SystemError("cannot write", spoolPath_.empty() ? path_ : spoolPath_);
    return false;
  }
  dataSize_ += size;
  return true;
}

bool CabVolumeOutput::CopySpoolAfter(FILE* target, std::string& error) {
  if (std::fflush(file_) != 0 || fseeko(file_, 0, SEEK_SET) != 0) {
    error = SystemError("cannot read back", spoolPath_);
    return false;
  }
  std::vector<uint8_t> chunk(kReadChunk);
  uint64_t left = dataSize_;
  while (left) {
    size_t n = size_t(std::min<uint64_t>(left, chunk.size()));
    if (std::fread(chunk.data(), 1, n, file_) != n) {
      error = SystemError("cannot read back", spoolPath_);
      return false;
    }
    if (std::fwrite(chunk.data(), 1, n, target) != n) {
      error = SystemError("cannot write", path_);
      return false;
    }
    left -= n;
  }
  return true;
}

bool CabVolumeOutput::Finish(const std::vector<uint8_t>& header, std::string& error) {
  FILE* target = file_;
  if (spoolPath_.empty()) {
    if (header.size() != headerSize_ || fseeko(file_, 0, SEEK_SET) != 0) {
      error = "internal error: the cabinet header does not fill its room in " + path_;
      return false;
    }
  } else {
    target = CreateFreshHostFile(path_, false, error);
    if (!target) return false;
    targetBuffer_.resize(kWriteBuffer);
    std::setvbuf(target, targetBuffer_.data(), _IOFBF, targetBuffer_.size());
  }
  bool ok = std::fwrite(header.data(), 1, header.size(), target) == header.size();
  if (!ok) error = SystemError("cannot write", path_);
  if (ok && !spoolPath_.empty()) ok = CopySpoolAfter(target, error);
  if (std::fclose(target) != 0 && ok) {
    error = SystemError("cannot write", path_);
    ok = false;
  }
  if (target != file_) std::fclose(file_);
  file_ = nullptr;
  if (!spoolPath_.empty()) std::remove(spoolPath_.c_str()), ForgetPartialFile(spoolPath_);
  spoolPath_.clear();
  return ok;
}

void CabVolumeOutput::Abandon() {
  if (!file_) return;
  std::fclose(file_);
  file_ = nullptr;
  if (!spoolPath_.empty()) std::remove(spoolPath_.c_str()), ForgetPartialFile(spoolPath_);
  std::remove(path_.c_str());
}

namespace {

class HostFiles final : public cab::WriterFiles {
 public:
  bool SourceSize(const std::string& path, uint64_t& size) override { return CabSourceSize(path, size); }
  std::unique_ptr<cab::EntryReader> OpenEntry(const cab::Entry& entry, uint64_t expectedSize,
                                              std::string& error) override {
    auto reader = std::make_unique<CabSourceReader>();
    if (!reader->Open(entry, expectedSize, error)) return nullptr;
    return reader;
  }
  std::unique_ptr<cab::VolumeOutput> CreateVolume(const std::string& path, size_t headerSize,
                                                  std::string& error) override {
    auto out = std::make_unique<CabVolumeOutput>();
    if (!out->Open(path, headerSize, error)) return nullptr;  // its destructor abandons it
    return out;
  }
  void Remove(const std::string& path) override { std::remove(path.c_str()); }
};

}  // namespace

cab::WriterFiles& HostCabinetFiles() {
  static HostFiles files;
  return files;
}
