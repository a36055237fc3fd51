#include "probe/cutout/gate_and_restore.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace kestrel {

namespace {

constexpr int64_t kNoTop = std::numeric_limits<int64_t>::max();

// Caps every pixel by 8 x its gate value; returns how many foreground pixels
// the cap made background. Branch-free so the compiler can vectorise it.
int64_t gate(int64_t area, uint8_t* mask, const uint8_t* personWide) {
  int64_t cut = 0;
  constexpr int64_t kBlock = 1 << 14;
  for (int64_t start = 0; start < area; start += kBlock) {
    const int64_t end = std::min(area, start + kBlock);
    uint32_t blockCut = 0;
    for (int64_t k = start; k < end; ++k) {
      const uint8_t wide = personWide[k];
      const uint8_t cap = wide >= 32 ? 255 : static_cast<uint8_t>(wide * 8);
      const uint8_t m = mask[k];
      // A foreground pixel under a gate below 16 (cap at most 120) is always cut.
      blockCut += static_cast<uint32_t>((m >= 128) & (wide < 16));
      mask[k] = std::min(m, cap);
    }
    cut += blockCut;
  }
  return cut;
}

// The first row of each column where the person is foreground; kNoTop where it
// never is. Each row is first tested as a whole for columns that turn
// foreground for the first time, so only rows along the person's outline cost more.
void personTops(int64_t width, int64_t height, const uint8_t* personMask,
                std::vector<int64_t>& top) {
  top.assign(static_cast<size_t>(width), kNoTop);
  std::vector<uint8_t> seen(static_cast<size_t>(width), 0);  // 0x80 once a top is known
  int64_t missing = width;
  for (int64_t y = 0; y < height && missing > 0; ++y) {
    const uint8_t* row = personMask + y * width;
    uint8_t fresh = 0;
    for (int64_t x = 0; x < width; ++x)
      fresh |= row[x] & static_cast<uint8_t>(~seen[static_cast<size_t>(x)]);
    if ((fresh & 0x80) == 0) continue;
    for (int64_t x = 0; x < width; ++x) {
      if (row[x] >= 128 && seen[static_cast<size_t>(x)] == 0) {
        seen[static_cast<size_t>(x)] = 0x80;
        top[static_cast<size_t>(x)] = y;
        --missing;
      }
    }
  }
}

// The first index from `k` on, below `end`, that was foreground before the gate
// and is background after it; skips eight pixels at a time where none is.
int64_t nextCut(const uint8_t* instanceMask, const uint8_t* mask, int64_t k, int64_t end) {
  constexpr uint64_t kTopBits = 0x8080808080808080ull;
  for (; k + 8 <= end; k += 8) {
    uint64_t before, after;
    std::memcpy(&before, instanceMask + k, 8);
    std::memcpy(&after, mask + k, 8);
    if ((before & ~after & kTopBits) != 0) break;
  }
  for (; k < end; ++k) {
    if (instanceMask[k] >= 128 && mask[k] < 128) return k;
  }
  return end;
}

struct Bounds {
  int64_t minRow = kNoTop, maxRow = -1, minCol = kNoTop, maxCol = -1;
  void add(int64_t x, int64_t y) {
    minRow = std::min(minRow, y);
    maxRow = std::max(maxRow, y);
    minCol = std::min(minCol, x);
    maxCol = std::max(maxCol, x);
  }
  void add(const Bounds& b) {
    add(b.minCol, b.minRow);
    add(b.maxCol, b.maxRow);
  }
};

// The regions the gate cut, numbered into componentIds, and which of them are
// restored: at least minPixels big, wholly at or below `chin`, and at least
// IN_FRONT in front of the person.
struct Regions {
  std::vector<uint8_t> accepted;  // by region number
  Bounds restoreBox;              // the union of the accepted regions
};

Regions cutRegions(const GateMaps& maps, const std::vector<int64_t>& top, int64_t minPixels,
                   int64_t chin) {
  const int64_t width = maps.mask.width, height = maps.mask.height, area = width * height;
  const uint8_t* mask = maps.mask.data;
  const uint8_t* instanceMask = maps.instanceMask.data;
  int32_t* componentIds = maps.componentIds.data();
  std::fill(componentIds, componentIds + area, -1);

  // Foreground before the gate, background after it, and not yet in a region.
  const auto candidate = [&](int64_t k) {
    return instanceMask[k] >= 128 && mask[k] < 128 && componentIds[k] < 0;
  };

  Regions regions;
  std::vector<int64_t> stack;  // reused by every region
  int32_t next = 0;
  for (int64_t start = nextCut(instanceMask, mask, 0, area); start < area;
       start = nextCut(instanceMask, mask, start + 1, area)) {
    if (componentIds[start] >= 0) continue;
    const int32_t n = next++;
    int64_t size = 0, inFront = 0;
    Bounds box;
    componentIds[start] = n;
    stack.push_back(start);
    while (!stack.empty()) {
      const int64_t d = stack.back();
      stack.pop_back();
      const int64_t x = d % width, y = d / width;
      ++size;
      if (top[static_cast<size_t>(x)] < y) ++inFront;
      box.add(x, y);
      const auto visit = [&](int64_t k) {
        if (!candidate(k)) return;
        componentIds[k] = n;
        stack.push_back(k);
      };
      if (x > 0) visit(d - 1);
      if (x < width - 1) visit(d + 1);
      if (y > 0) visit(d - width);
      if (y < height - 1) visit(d + width);
    }
    const bool accept = size >= minPixels && box.minRow >= chin &&
                        IN_FRONT * static_cast<double>(size) <= static_cast<double>(inFront);
    regions.accepted.push_back(accept ? 1 : 0);
    if (accept) regions.restoreBox.add(box);
  }
  return regions;
}

// Every pixel within 2 of an accepted region gets its instance value back;
// the windows read region numbers only, so restoring never feeds on itself.
void restore(const GateMaps& maps, const Regions& regions) {
  const int64_t width = maps.mask.width, height = maps.mask.height;
  uint8_t* mask = maps.mask.data;
  const uint8_t* instanceMask = maps.instanceMask.data;
  const int32_t* componentIds = maps.componentIds.data();
  const auto nearAccepted = [&](int64_t x, int64_t y) {
    const int64_t y1 = std::min(y + 2, height - 1), x1 = std::min(x + 2, width - 1);
    for (int64_t wy = std::max<int64_t>(y - 2, 0); wy <= y1; ++wy) {
      const int32_t* row = componentIds + wy * width;
      for (int64_t wx = std::max<int64_t>(x - 2, 0); wx <= x1; ++wx) {
        const int32_t id = row[wx];
        if (id >= 0 && regions.accepted[static_cast<size_t>(id)]) return true;
      }
    }
    return false;
  };
  const Bounds& box = regions.restoreBox;
  const int64_t y0 = std::max<int64_t>(box.minRow - 2, 0);
  const int64_t y1 = std::min(box.maxRow + 2, height - 1);
  const int64_t x0 = std::max<int64_t>(box.minCol - 2, 0);
  const int64_t x1 = std::min(box.maxCol + 2, width - 1);
  for (int64_t y = y0; y <= y1; ++y) {
    for (int64_t x = x0; x <= x1; ++x) {
      const int64_t p = y * width + x;
      if (mask[p] < instanceMask[p] && nearAccepted(x, y)) mask[p] = instanceMask[p];
    }
  }
}

}  // namespace

int64_t gateAndRestore(const GateMaps& maps, int64_t chin) {
  const int64_t width = maps.mask.width, height = maps.mask.height, area = width * height;
  const int64_t cut = gate(area, maps.mask.data, maps.personWide.data);

  const auto minPixels = static_cast<int64_t>(IN_FRONT_MIN * static_cast<double>(area));
  if (cut < minPixels) return cut;

  std::vector<int64_t> top;
  personTops(width, height, maps.personMask.data, top);
  const Regions regions = cutRegions(maps, top, minPixels, chin);
  if (regions.restoreBox.maxRow >= 0) restore(maps, regions);
  return cut;
}

}  // namespace kestrel
