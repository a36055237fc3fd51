#pragma once
// The block a compiled network's values live in: zeroed pages from the
// kernel, in 2 MB pages where the kernel gives them, all made as the block is.
// Touched page by page instead, RVM's arena took 50 to 100 ms of page faults
// on a virtual machine, in its load or its first run, and a picture's first
// frame waits for both.
#include <cstddef>
#include <cstdint>

namespace kestrel::vision::engine {

class ArenaMemory {
 public:
  ArenaMemory() = default;
  // Throws std::bad_alloc when the kernel has no room.
  explicit ArenaMemory(size_t bytes);
  ~ArenaMemory();
  ArenaMemory(ArenaMemory&& other) noexcept;
  ArenaMemory& operator=(ArenaMemory&& other) noexcept;
  ArenaMemory(const ArenaMemory&) = delete;
  ArenaMemory& operator=(const ArenaMemory&) = delete;

  uint8_t* data() const { return data_; }

 private:
  uint8_t* data_ = nullptr;
  size_t bytes_ = 0;
};

}  // namespace kestrel::vision::engine
