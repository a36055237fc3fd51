#include "platform/vision/engine/arena_memory.h"

#include <sys/mman.h>

#include <new>
#include <utility>

namespace kestrel::vision::engine {

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14; older kernels refuse it and fault lazily
#endif

ArenaMemory::ArenaMemory(size_t bytes) : bytes_(bytes > 0 ? bytes : 1) {
  void* block = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) throw std::bad_alloc();
  data_ = static_cast<uint8_t*>(block);
  // Both are hints: a kernel without either leaves the pages to be made as touched.
  ::madvise(block, bytes_, MADV_HUGEPAGE);
  ::madvise(block, bytes_, MADV_POPULATE_WRITE);
}

ArenaMemory::~ArenaMemory() {
  if (data_) ::munmap(data_, bytes_);
}

ArenaMemory::ArenaMemory(ArenaMemory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}

ArenaMemory& ArenaMemory::operator=(ArenaMemory&& other) noexcept {
  if (this != &other) {
    if (data_) ::munmap(data_, bytes_);
    data_ = std::exchange(other.data_, nullptr);
    bytes_ = std::exchange(other.bytes_, 0);
  }
  return *this;
}

}  // namespace kestrel::vision::engine
