#pragma once
// Placing the executor's intermediate tensors in one block of memory: two
// tensors share bytes only when their lives (first write to last read, in
// step numbers) do not overlap.
#include <cstddef>
#include <vector>

namespace kestrel::vision::engine {

struct Lifetime {
  size_t bytes = 0;
  int first = 0;  // the step that writes it first
  int last = 0;   // the step that reads it last (inclusive)
};

struct ArenaLayout {
  std::vector<size_t> offsets;  // one per lifetime, aligned
  size_t total = 0;
};

// Largest first, each at the lowest aligned offset free for its whole life.
ArenaLayout placeInArena(const std::vector<Lifetime>& lives, size_t alignment = 64);

}  // namespace kestrel::vision::engine
