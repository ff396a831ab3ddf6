#include "input_stream.h"

#include <cstring>

#include "byteorder.h"

namespace cab {

InputStream::InputStream(const FileCallbacks& io, intptr_t handle, uint32_t origin)
    : io_(io), handle_(handle), position_(origin), bufferStart_(origin), handlePosition_(origin) {}

bool InputStream::Seek(uint32_t position) {
  if (position > 0x7fffffffu) return false;
  // Within or right after the buffer nothing needs to move yet.
  position_ = position;
  return true;
}

// Reads at position_ until count bytes arrived or the callback gives nothing
// more; seeks first when the handle stands elsewhere.
uint32_t InputStream::RawRead(unsigned char* target, uint32_t count) {
  if (handlePosition_ != position_) {
    long reached = io_.seek(handle_, static_cast<long>(position_), 0 /* SEEK_SET */);
    if (reached != static_cast<long>(position_)) return 0;
    handlePosition_ = position_;
  }
  uint32_t done = 0;
  while (done < count) {
    unsigned int got = io_.read(handle_, target + done, count - done);
    if (got == 0 || got > count - done) break;  // also catches (UINT)-1
    done += got;
  }
  handlePosition_ += done;
  return done;
}

bool InputStream::Fill() {
  bufferStart_ = position_;
  bufferLength_ = 0;
  bufferLength_ = RawRead(buffer_, sizeof buffer_);
  return bufferLength_ > 0;
}

bool InputStream::Read(void* target, uint32_t count) {
  unsigned char* out = static_cast<unsigned char*>(target);
  while (count > 0) {
    uint32_t end = bufferStart_ + bufferLength_;
    if (position_ >= bufferStart_ && position_ < end) {
      uint32_t take = end - position_;
      if (take > count) take = count;
      std::memcpy(out, buffer_ + (position_ - bufferStart_), take);
      out += take;
      count -= take;
      position_ += take;
      continue;
    }
    if (count >= sizeof buffer_) {
      // Large reads (data blocks) bypass the buffer.
      uint32_t got = RawRead(out, count);
      position_ += got;
      return got == count;
    }
    if (!Fill()) return false;
  }
  return true;
}

// Reads over the bytes rather than seeking, so that a stream checked with
// FDIIsCabinet is only ever read.
bool InputStream::Skip(uint32_t count) {
  unsigned char scratch[512];
  while (count > 0) {
    uint32_t take = count < sizeof scratch ? count : uint32_t(sizeof scratch);
    if (!Read(scratch, take)) return false;
    count -= take;
  }
  return true;
}

bool InputStream::ReadU16(uint16_t& value) {
  unsigned char b[2];
  if (!Read(b, 2)) return false;
  value = ReadLe16(b);
  return true;
}

bool InputStream::ReadU32(uint32_t& value) {
  unsigned char b[4];
  if (!Read(b, 4)) return false;
  value = ReadLe32(b);
  return true;
}

bool InputStream::ReadString(char* target, uint32_t capacity) {
  for (uint32_t i = 0; i < capacity; ++i) {
    unsigned char c;
    if (!Read(&c, 1)) return false;
    target[i] = static_cast<char>(c);
    if (c == 0) return true;
  }
  return false;
}

}  // namespace cab
