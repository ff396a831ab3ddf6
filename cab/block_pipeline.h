// Hands the cabinet writer the payload of each data block it asks for, in
// the writer's order, while reading sources and compressing ahead of it.
//
// The writer lays out folders, volumes and lists and needs every block's
// compressed size to do so; the bytes of a block depend only on where its
// folder began and where the block lies in the stream of all files' bytes:
// stored blocks are those bytes, an MSZIP block is compressed with the 32 KiB
// before it as history, an LZX block continues its folder's single stream
// (in a single cabinet, where LZX blocks span frames, it also depends on the
// blocks after it up to the folder's end).
// So the pipeline predicts the folders (they end where the folder target or
// the size limit says, as in a single cabinet), cuts them into segments and
// lets worker threads encode the segments: MSZIP and stored segments of a
// few blocks each, LZX one whole folder per worker. When the writer asks for
// a block that was not predicted (a folder that a volume boundary ended
// early), the work ahead is dropped and started again from that block. An
// LZX folder in a set of volumes may end at any block, so such folders are
// compressed one at a time, as they are asked for, each block by itself.
// One thread encodes a single cabinet's LZX folder ahead of the writer as
// far as its encoder holds blocks back.
//
// Every answer is a function of the block and its folder alone, so the output is the same
// bytes for any number of threads. Memory: each worker holds one encoder
// (with its window) and two blocks; at most four segments per thread wait
// for the writer (MSZIP, stored), or one folder's payloads per thread (LZX).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "block_encoder.h"
#include "cabinet_writer.h"
#include "format.h"

namespace cab {

// The one rule of where a folder ends, for the writer and for the pipeline
// that predicts it: a file with data starts a new folder once the folder
// holds its target, or when it would not fit in the folder's block count.
inline bool FolderIsFull(uint64_t folderBytes, uint64_t nextFileSize, uint64_t folderTarget) {
  return nextFileSize && (folderBytes >= folderTarget || folderBytes + nextFileSize > kMaxFolderBytes);
}

// A source with data and its place in the stream of all files' bytes.
struct StreamFile {
  const Entry* entry = nullptr;
  uint64_t start = 0;
  uint64_t size = 0;
};

// Reads any stretch of that stream, keeping one source open and moving
// forward in it without reading what lies between.
class StreamReader {
 public:
  StreamReader(const std::vector<StreamFile>& files, WriterFiles& io) : files_(files), io_(io) {}
  bool Read(uint64_t at, uint8_t* out, size_t size, std::string& error);

 private:
  bool Seek(uint64_t at, std::string& error);
  const std::vector<StreamFile>& files_;
  WriterFiles& io_;
  size_t current_ = 0;
  uint64_t offset_ = 0;  // in files_[current_]
  std::unique_ptr<EntryReader> reader_;
};

// A block the writer needs, by stream offsets.
struct BlockSpan {
  uint64_t folderStart = 0;
  uint64_t start = 0;
  uint32_t size = 0;
  bool last = false;  // the folder's last block
};

struct PipelineSettings {
  Compression compression = Compression::MsZip;
  int level = 6;
  int lzxWindow = 21;
  int threads = 1;
  uint32_t segmentBlocks = 32;
  uint64_t folderTarget = 64u << 20;
  bool singleCabinet = true;  // folders end only where the target or the size limit says
};

class BlockPipeline {
 public:
  // `files` in the order written, empty ones included; the pipeline keeps
  // what it needs.
  BlockPipeline(const std::vector<StreamFile>& files, WriterFiles& io, const PipelineSettings& settings);
  ~BlockPipeline();
  BlockPipeline(const BlockPipeline&) = delete;
  BlockPipeline& operator=(const BlockPipeline&) = delete;

  bool Ready() const { return ready_; }
  // The payload of `span`. False with `error` when a source could not be
  // read (its reader's words) or, with `encoderFailed`, when the encoder
  // failed.
  bool Take(const BlockSpan& span, std::vector<uint8_t>& payload, std::string& error, bool& encoderFailed);

 private:
  struct Segment;
  bool TakeDirect(const BlockSpan& span, std::vector<uint8_t>& payload, std::string& error,
                  bool& encoderFailed);
  bool TakeGathered(const BlockSpan& span, std::vector<uint8_t>& payload, std::string& error,
                    bool& encoderFailed);
  std::unique_ptr<BlockEncoder> MakeEncoder() const;
  uint64_t PredictFolderEnd(uint64_t folderStart) const;
  void Refill();
  void Restart(const BlockSpan& span);
  bool Matches(const Segment& s, const BlockSpan& span) const;
  std::shared_ptr<Segment> FirstQueued() const;
  void Work();
  void EncodeSegment(Segment& s, BlockEncoder& coder, StreamReader& reader);
  bool Publish(Segment& s, std::vector<uint8_t>& payload);

  std::vector<StreamFile> files_;  // those with data
  WriterFiles& io_;
  const PipelineSettings settings_;
  uint64_t streamEnd_ = 0;
  bool ready_ = false;
  bool gather_ = false;  // LZX blocks may span frames

  // one thread: blocks are read and encoded when asked for
  std::unique_ptr<BlockEncoder> coder_;
  std::unique_ptr<StreamReader> reader_;
  uint64_t next_ = 0;
  std::vector<uint8_t> data_;
  // and, with gathering, the folder being encoded ahead of the writer
  struct Given {
    uint64_t start = 0;
    uint32_t size = 0;
    std::vector<uint8_t> payload;
  };
  bool running_ = false;
  uint64_t runFolderStart_ = 0, runFolderEnd_ = 0;
  std::deque<Given> given_;  // blocks the encoder holds
  std::deque<Given> out_;    // blocks whose payloads are out
  std::vector<std::vector<uint8_t>> payloads_;

  // more: the segments ahead, under mutex_
  std::mutex mutex_;
  std::condition_variable work_, done_;
  std::deque<std::shared_ptr<Segment>> ahead_;
  size_t depth_ = 0;
  uint64_t planFolderStart_ = 0, planNext_ = 0, planFolderEnd_ = 0;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace cab
