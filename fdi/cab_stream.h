// Buffered reading of one open cabinet through the caller's read and seek
// callbacks. Positions are those the seek callback reports, counted from the
// cabinet's first byte; a read that comes up short counts as the end of the
// cabinet, since a truncated cabinet is the usual cause.
#pragma once

#include <cstdint>

#include "byteorder.h"
#include "fdi_memory.h"

namespace fdi {

class CabStream {
 public:
  // origin: the position of the handle as the stream starts using it.
  CabStream(const Callbacks& io, intptr_t handle, uint32_t origin);

  intptr_t handle() const { return handle_; }
  uint32_t position() const { return position_; }

  // Moves to an absolute position; false when the seek callback fails.
  bool seek(uint32_t position);
  // Reads exactly count bytes; false on a short read.
  bool read(void* target, uint32_t count);
  bool skip(uint32_t count);
  bool readU16(uint16_t& value);
  bool readU32(uint32_t& value);
  // Reads a zero-terminated text into target (capacity bytes including the
  // zero); false when it ends early or does not fit.
  bool readString(char* target, uint32_t capacity);

 private:
  bool fill();
  uint32_t rawRead(unsigned char* target, uint32_t count);

  Callbacks io_;
  intptr_t handle_;
  uint32_t position_;         // logical position of the next byte
  uint32_t bufferStart_ = 0;  // position of buffer_[0]
  uint32_t bufferLength_ = 0;
  uint32_t handlePosition_;  // where the handle stands, as far as known
  unsigned char buffer_[4096];
};

}  // namespace fdi
