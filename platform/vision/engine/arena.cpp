#include "platform/vision/engine/arena.h"

#include <algorithm>
#include <numeric>

namespace kestrel::vision::engine {

ArenaLayout placeInArena(const std::vector<Lifetime>& lives, size_t alignment) {
  ArenaLayout layout;
  layout.offsets.assign(lives.size(), 0);
  std::vector<size_t> order(lives.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return lives[a].bytes > lives[b].bytes; });
  auto round = [&](size_t v) { return (v + alignment - 1) / alignment * alignment; };
  std::vector<size_t> placed;
  for (size_t k : order) {
    const Lifetime& me = lives[k];
    // The busy ranges of the placed tensors that live at the same time, by offset.
    std::vector<std::pair<size_t, size_t>> busy;
    for (size_t p : placed) {
      const Lifetime& other = lives[p];
      if (other.last < me.first || me.last < other.first) continue;
      busy.emplace_back(layout.offsets[p], layout.offsets[p] + other.bytes);
    }
    std::sort(busy.begin(), busy.end());
    size_t at = 0;
    for (const auto& [begin, end] : busy) {
      if (at + me.bytes <= begin) break;
      at = std::max(at, round(end));
    }
    layout.offsets[k] = at;
    layout.total = std::max(layout.total, round(at + me.bytes));
    placed.push_back(k);
  }
  return layout;
}

}  // namespace kestrel::vision::engine
