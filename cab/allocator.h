// Memory of the cabinet reader and the block decoders, all through an
// allocator that the caller supplies (FDI's alloc and free callbacks, or the
// C heap). Nothing here allocates from the C++ heap or throws: a failed
// allocation is a null pointer that the caller turns into Status::kAllocFail.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>

namespace cab {

// Plain functions, so that a C caller's callbacks serve as they are.
struct Allocator {
  void* (*alloc)(unsigned long size);
  void (*free)(void* block);
};

inline void* HeapBlock(unsigned long size) { return std::malloc(size); }
inline void FreeHeapBlock(void* block) { std::free(block); }
// The C heap as an allocator, for callers outside FDI (the writer's check,
// tests, fuzzers).
inline Allocator HeapAllocator() { return Allocator{HeapBlock, FreeHeapBlock}; }

class Memory {
 public:
  explicit Memory(const Allocator& allocator) : allocator_(allocator) {}

  void* Get(size_t size) noexcept {
    // The allocator takes a 32-bit count on the systems FDI was made for.
    if (size == 0 || size > 0x7fffffffu) return nullptr;
    return allocator_.alloc(static_cast<unsigned long>(size));
  }
  void Put(void* block) noexcept {
    if (block) allocator_.free(block);
  }

  template <class T, class... Args>
  T* Make(Args&&... args) noexcept {
    void* block = Get(sizeof(T));
    return block ? new (block) T(std::forward<Args>(args)...) : nullptr;
  }
  template <class T>
  void Destroy(T* object) noexcept {
    if (!object) return;
    object->~T();
    Put(object);
  }

 private:
  Allocator allocator_;
};

// A byte buffer from the caller's allocator, released with its owner.
class Bytes {
 public:
  explicit Bytes(Memory& mem) : mem_(mem) {}
  ~Bytes() { mem_.Put(data_); }
  Bytes(const Bytes&) = delete;
  Bytes& operator=(const Bytes&) = delete;

  bool Resize(size_t size) noexcept {
    if (size <= size_) return true;
    unsigned char* bigger = static_cast<unsigned char*>(mem_.Get(size));
    if (!bigger) return false;
    for (size_t i = 0; i < size_; ++i) bigger[i] = data_[i];
    mem_.Put(data_);
    data_ = bigger;
    size_ = size;
    return true;
  }
  unsigned char* Data() noexcept { return data_; }
  const unsigned char* Data() const noexcept { return data_; }
  size_t Size() const noexcept { return size_; }

 private:
  Memory& mem_;
  unsigned char* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace cab
