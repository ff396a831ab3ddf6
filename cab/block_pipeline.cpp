#include "block_pipeline.h"

#include <algorithm>

namespace cab {

bool StreamReader::Seek(uint64_t at, std::string& error) {
  auto after = std::upper_bound(files_.begin(), files_.end(), at,
                                [](uint64_t a, const StreamFile& f) { return a < f.start; });
  if (after == files_.begin()) return error = "internal error: no source at a stream offset", false;
  size_t k = size_t(after - files_.begin()) - 1;
  uint64_t within = at - files_[k].start;
  if (within >= files_[k].size) return error = "internal error: no source at a stream offset", false;
  if (!reader_ || k != current_ || within < offset_) {
    reader_ = io_.OpenEntry(*files_[k].entry, files_[k].size, error);
    if (!reader_) return false;
    current_ = k;
    offset_ = 0;
  }
  if (within > offset_ && !reader_->Skip(within - offset_, error)) return false;
  offset_ = within;
  return true;
}

bool StreamReader::Read(uint64_t at, uint8_t* out, size_t size, std::string& error) {
  while (size) {
    if (!reader_ || at != files_[current_].start + offset_) {
      if (!Seek(at, error)) return false;
    }
    const StreamFile& f = files_[current_];
    size_t want = size_t(std::min<uint64_t>(size, f.size - offset_));
    long n = reader_->Read(out, want, error);
    if (n < 0) return false;
    if (n == 0) return error = "internal error: short read of " + f.entry->storedName, false;
    at += uint64_t(n);
    out += n;
    size -= size_t(n);
    offset_ += uint64_t(n);
    if (offset_ == f.size) reader_.reset();
  }
  return true;
}

// A stretch of one folder's blocks, from `start` (a block boundary of the
// folder) to `end`. An LZX segment is encoded from its folder's start, and
// what comes before `start` is encoded again and dropped.
struct BlockPipeline::Segment {
  uint64_t folderStart = 0, start = 0, end = 0, folderEnd = 0;
  enum State { kQueued, kRunning, kDone } state = kQueued;
  bool cancelled = false;
  std::vector<std::vector<uint8_t>> payloads;  // as they are encoded
  size_t ready = 0, taken = 0;
  bool failed = false, encoderFailed = false;  // after `ready` blocks
  std::string error;

  size_t Blocks() const { return size_t((end - start + kBlockSize - 1) / kBlockSize); }
};

BlockPipeline::BlockPipeline(const std::vector<StreamFile>& files, WriterFiles& io,
                             const PipelineSettings& settings)
    : io_(io), settings_(settings) {
  for (const StreamFile& f : files) {
    if (f.size) files_.push_back(f);
    streamEnd_ = std::max(streamEnd_, f.start + f.size);
  }
  bool lzx = settings_.compression == Compression::Lzx;
  gather_ = lzx && settings_.singleCabinet;
  bool direct = settings_.threads <= 1 || (lzx && !settings_.singleCabinet);
  if (direct) {
    coder_ = MakeEncoder();
    reader_ = std::make_unique<StreamReader>(files_, io_);
    ready_ = coder_->Ready();
    return;
  }
  // Checked once here so that a worker's encoder is known to set up.
  ready_ = MakeEncoder()->Ready();
  if (!ready_) return;
  depth_ = size_t(settings_.threads) * (lzx ? 1 : 4);
  for (int i = 0; i < settings_.threads; ++i) workers_.emplace_back([this] { Work(); });
}

// A single cabinet takes every block of a folder, so its LZX blocks may
// span frames: the encoder then hands out payloads late, several at once.
std::unique_ptr<BlockEncoder> BlockPipeline::MakeEncoder() const {
  return std::make_unique<BlockEncoder>(settings_.compression, settings_.level, settings_.lzxWindow, gather_);
}

BlockPipeline::~BlockPipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    for (auto& s : ahead_) s->cancelled = true;
  }
  work_.notify_all();
  for (std::thread& t : workers_) t.join();
}

bool BlockPipeline::Take(const BlockSpan& span, std::vector<uint8_t>& payload, std::string& error,
                         bool& encoderFailed) {
  encoderFailed = false;
  if (!ready_) return error = "cannot set up the compressor", false;
  if (workers_.empty()) return TakeDirect(span, payload, error, encoderFailed);
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    Refill();
    if (ahead_.empty()) return error = "internal error: a block beyond the sources", false;
    Segment& s = *ahead_.front();
    if (s.taken == s.Blocks()) {
      ahead_.pop_front();
      continue;
    }
    if (!Matches(s, span)) {
      Restart(span);
      continue;
    }
    done_.wait(lock, [&s] { return s.ready > s.taken || s.failed; });
    if (s.ready > s.taken) {
      payload = std::move(s.payloads[s.taken++]);
      return true;
    }
    error = s.error;
    encoderFailed = s.encoderFailed;
    return false;
  }
}

bool BlockPipeline::TakeDirect(const BlockSpan& span, std::vector<uint8_t>& payload, std::string& error,
                               bool& encoderFailed) {
  if (gather_) return TakeGathered(span, payload, error, encoderFailed);
  if (span.start == span.folderStart) {
    coder_->StartFolder();
  } else if (span.start != next_) {
    return error = "internal error: blocks asked for out of order", false;
  }
  data_.resize(span.size);
  if (!reader_->Read(span.start, data_.data(), span.size, error)) return false;
  next_ = span.start + span.size;
  encoderFailed = !coder_->Encode(data_.data(), span.size, span.last, payload);
  return !encoderFailed;
}

// One thread with an encoder that gathers frames: the blocks after `span`
// are read and given to the encoder, up to the folder's predicted end, until
// its payload comes out. Should the writer ask for another block than the
// next (a folder that ends elsewhere), the folder is encoded again from its
// start, as the worker threads do.
bool BlockPipeline::TakeGathered(const BlockSpan& span, std::vector<uint8_t>& payload, std::string& error,
                                 bool& encoderFailed) {
  const uint64_t spanEnd = span.start + span.size;
  uint64_t expected = !out_.empty() ? out_.front().start : !given_.empty() ? given_.front().start : next_;
  bool sameRun = running_ && span.folderStart == runFolderStart_ && span.start == expected &&
                 spanEnd <= runFolderEnd_ && span.last == (spanEnd == runFolderEnd_);
  if (!sameRun) {
    running_ = true;
    runFolderStart_ = span.folderStart;
    runFolderEnd_ = span.last ? spanEnd : std::max(PredictFolderEnd(span.folderStart), spanEnd);
    next_ = span.folderStart;
    given_.clear();
    out_.clear();
    coder_->StartFolder();
  }
  while (true) {
    while (!out_.empty() && out_.front().start < span.start) out_.pop_front();
    if (!out_.empty()) {
      if (out_.front().start != span.start || out_.front().size != span.size)
        return error = "internal error: blocks asked for out of order", false;
      payload = std::move(out_.front().payload);
      out_.pop_front();
      return true;
    }
    if (next_ >= runFolderEnd_) return error = "internal error: a block beyond its folder", false;
    const uint32_t size = uint32_t(std::min<uint64_t>(kBlockSize, runFolderEnd_ - next_));
    data_.resize(size);
    if (!reader_->Read(next_, data_.data(), size, error)) {
      running_ = false;
      return false;
    }
    given_.push_back({next_, size, {}});
    next_ += size;
    if (!coder_->Encode(data_.data(), size, next_ == runFolderEnd_, payloads_)) {
      running_ = false;
      encoderFailed = true;
      return false;
    }
    for (std::vector<uint8_t>& p : payloads_) {
      given_.front().payload = std::move(p);
      out_.push_back(std::move(given_.front()));
      given_.pop_front();
    }
  }
}

// The folder rule of a single cabinet: a file with data opens a new folder
// when the folder already holds the target or would pass the size limit.
uint64_t BlockPipeline::PredictFolderEnd(uint64_t folderStart) const {
  auto it = std::lower_bound(files_.begin(), files_.end(), folderStart,
                             [](const StreamFile& f, uint64_t a) { return f.start < a; });
  uint64_t bytes = 0;
  for (bool first = true; it != files_.end(); ++it, first = false) {
    if (!first && FolderIsFull(bytes, it->size, settings_.folderTarget)) break;
    bytes += it->size;
  }
  return folderStart + bytes;
}

void BlockPipeline::Refill() {
  bool added = false;
  while (ahead_.size() < depth_ && planNext_ < streamEnd_) {
    if (planNext_ == planFolderEnd_) {
      planFolderStart_ = planNext_;
      planFolderEnd_ = PredictFolderEnd(planNext_);
    }
    auto s = std::make_shared<Segment>();
    s->folderStart = planFolderStart_;
    s->start = planNext_;
    s->folderEnd = planFolderEnd_;
    s->end = settings_.compression == Compression::Lzx
                 ? planFolderEnd_
                 : std::min(planFolderEnd_, planNext_ + uint64_t(settings_.segmentBlocks) * kBlockSize);
    planNext_ = s->end;
    ahead_.push_back(std::move(s));
    added = true;
  }
  if (added) work_.notify_all();
}

// Drops the work ahead and plans again from `span`, which the writer asks
// for next: the folder it opens ends with it when it is the folder's last.
void BlockPipeline::Restart(const BlockSpan& span) {
  for (auto& s : ahead_) s->cancelled = true;
  ahead_.clear();
  planFolderStart_ = span.folderStart;
  uint64_t end = span.start + span.size;
  planFolderEnd_ = span.last ? end : std::max(PredictFolderEnd(span.folderStart), end);
  planNext_ = span.start;
}

bool BlockPipeline::Matches(const Segment& s, const BlockSpan& span) const {
  uint64_t start = s.start + uint64_t(s.taken) * kBlockSize;
  uint64_t size = std::min<uint64_t>(kBlockSize, s.end - start);
  // Only LZX may encode a folder's last block differently.
  bool lastMatters = settings_.compression == Compression::Lzx;
  return span.folderStart == s.folderStart && span.start == start && span.size == size &&
         (!lastMatters || span.last == (start + size == s.folderEnd));
}

std::shared_ptr<BlockPipeline::Segment> BlockPipeline::FirstQueued() const {
  for (const auto& s : ahead_)
    if (s->state == Segment::kQueued) return s;
  return nullptr;
}

void BlockPipeline::Work() {
  std::unique_ptr<BlockEncoder> coder = MakeEncoder();
  StreamReader reader(files_, io_);
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    std::shared_ptr<Segment> s;
    work_.wait(lock, [&] { return stop_ || (s = FirstQueued()) != nullptr; });
    if (stop_) return;
    s->state = Segment::kRunning;
    lock.unlock();
    EncodeSegment(*s, *coder, reader);
    lock.lock();
    s->state = Segment::kDone;
  }
}

// Hands one payload over; false when the segment was dropped meanwhile.
bool BlockPipeline::Publish(Segment& s, std::vector<uint8_t>& payload) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (s.cancelled) return false;
    s.payloads.push_back(std::move(payload));
    s.ready++;
  }
  done_.notify_all();
  return true;
}

void BlockPipeline::EncodeSegment(Segment& s, BlockEncoder& coder, StreamReader& reader) {
  std::vector<uint8_t> data;
  std::vector<std::vector<uint8_t>> payloads;
  std::deque<uint64_t> given;  // starts of the blocks whose payloads are still to come
  std::string error;
  bool encoderFailed = false;
  bool lzx = settings_.compression == Compression::Lzx;
  uint64_t at = lzx ? s.folderStart : s.start;
  coder.StartFolder();
  bool ok = true;
  if (!lzx && settings_.compression == Compression::MsZip && at > s.folderStart) {
    size_t history = size_t(std::min<uint64_t>(kBlockSize, at - s.folderStart));
    data.resize(history);
    ok = reader.Read(at - history, data.data(), history, error) && coder.StartInFolder(data.data(), history);
  }
  for (; ok && at < s.end; at += kBlockSize) {
    size_t size = size_t(std::min<uint64_t>(kBlockSize, s.end - at));
    data.resize(size);
    ok = reader.Read(at, data.data(), size, error);
    if (ok) {
      given.push_back(at);
      encoderFailed = !coder.Encode(data.data(), size, at + size == s.folderEnd, payloads);
      ok = !encoderFailed;
    }
    for (size_t k = 0; ok && k < payloads.size(); ++k) {
      const uint64_t block = given.front();
      given.pop_front();
      if (block >= s.start && !Publish(s, payloads[k])) return;
    }
    if (ok && at < s.start) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (s.cancelled) return;
    }
  }
  if (ok) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    s.failed = true;
    s.encoderFailed = encoderFailed;
    s.error = error;
  }
  done_.notify_all();
}

}  // namespace cab
