// Memory and file access of the decompressor, all through the callbacks that
// the caller handed to FDICreate. Nothing here allocates from the C++ heap or
// throws: a failed allocation is a null pointer that the caller turns into
// FDIERROR_ALLOC_FAIL.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

#include "fdi_interface.h"

namespace fdi {

// The seven callbacks of one FDI context.
struct Callbacks {
  PFNALLOC alloc;
  PFNFREE free;
  PFNOPEN open;
  PFNREAD read;
  PFNWRITE write;
  PFNCLOSE close;
  PFNSEEK seek;
};

class Memory {
 public:
  explicit Memory(const Callbacks& io) : io_(io) {}

  void* get(size_t size) noexcept {
    // The callback takes a 32-bit count on the systems FDI was made for.
    if (size == 0 || size > 0x7fffffffu) return nullptr;
    return io_.alloc(static_cast<unsigned long>(size));
  }
  void put(void* block) noexcept {
    if (block) io_.free(block);
  }

  template <class T, class... Args>
  T* make(Args&&... args) noexcept {
    void* block = get(sizeof(T));
    return block ? new (block) T(std::forward<Args>(args)...) : nullptr;
  }
  template <class T>
  void destroy(T* object) noexcept {
    if (!object) return;
    object->~T();
    put(object);
  }

 private:
  Callbacks io_;
};

// A byte buffer from the caller's allocator, released with its owner.
class Bytes {
 public:
  explicit Bytes(Memory& mem) : mem_(mem) {}
  ~Bytes() { mem_.put(data_); }
  Bytes(const Bytes&) = delete;
  Bytes& operator=(const Bytes&) = delete;

  bool resize(size_t size) noexcept {
    if (size <= size_) return true;
    unsigned char* bigger = static_cast<unsigned char*>(mem_.get(size));
    if (!bigger) return false;
    for (size_t i = 0; i < size_; ++i) bigger[i] = data_[i];
    mem_.put(data_);
    data_ = bigger;
    size_ = size;
    return true;
  }
  unsigned char* data() noexcept { return data_; }
  const unsigned char* data() const noexcept { return data_; }
  size_t size() const noexcept { return size_; }

 private:
  Memory& mem_;
  unsigned char* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace fdi
