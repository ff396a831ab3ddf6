// Buffered reading of one open cabinet through the caller's read and seek
// callbacks. Positions are those the seek callback reports, counted from the
// cabinet's first byte; a read that comes up short counts as the end of the
// cabinet, since a truncated cabinet is the usual cause.
#pragma once

#include <cstdint>

namespace cab {

// The caller's file access: plain functions over its own handles, so that
// FDI's read, seek and close callbacks serve as they are.
struct FileCallbacks {
  unsigned int (*read)(intptr_t handle, void* buffer, unsigned int count);
  long (*seek)(intptr_t handle, long offset, int origin);
  int (*close)(intptr_t handle);
};

class InputStream {
 public:
  // origin: the position of the handle as the stream starts using it.
  InputStream(const FileCallbacks& io, intptr_t handle, uint32_t origin);

  intptr_t Handle() const { return handle_; }
  uint32_t Position() const { return position_; }

  // Moves to an absolute position; false when the seek callback fails.
  bool Seek(uint32_t position);
  // Reads exactly count bytes; false on a short read.
  bool Read(void* target, uint32_t count);
  bool Skip(uint32_t count);
  bool ReadU16(uint16_t& value);
  bool ReadU32(uint32_t& value);
  // Reads a zero-terminated text into target (capacity bytes including the
  // zero); false when it ends early or does not fit.
  bool ReadString(char* target, uint32_t capacity);

 private:
  bool Fill();
  uint32_t RawRead(unsigned char* target, uint32_t count);

  FileCallbacks io_;
  intptr_t handle_;
  uint32_t position_;         // logical position of the next byte
  uint32_t bufferStart_ = 0;  // position of buffer_[0]
  uint32_t bufferLength_ = 0;
  uint32_t handlePosition_;  // where the handle stands, as far as known
  unsigned char buffer_[4096];
};

}  // namespace cab
