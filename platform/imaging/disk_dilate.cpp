// The imaging service's dilation, on plain loops (OpenCV's dilate walks the
// whole kernel at every pixel). The disk is a stack of horizontal segments, one
// per row offset dy, of half-width max{dx : dx^2 + dy^2 <= radius^2}. Each
// source row's running maxima for the few distinct half-widths are kept in a
// small ring of rows, and every output row is the maximum of
// 2 x floor(radius) + 1 of them: the full disk kernel's result at a fraction
// of the work.
#include "platform/imaging/imaging.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace kestrel::imaging {

namespace {

// The largest dx with dx^2 + dy^2 <= radius^2, tested exactly as the kernel's
// definition reads so rounding in sqrt cannot move a segment's end.
int64_t halfWidth(double radius, int64_t dy) {
  const double left = radius * radius - static_cast<double>(dy * dy);
  auto dx = static_cast<int64_t>(std::sqrt(std::max(left, 0.0)));
  const auto inside = [&](int64_t d) {
    return static_cast<double>(d * d + dy * dy) <= radius * radius;
  };
  while (inside(dx + 1)) ++dx;
  while (dx > 0 && !inside(dx)) --dx;
  return dx;
}

// out[x] = max(out[x], row[x - w], row[x + w]) for the x where those exist.
void widen(uint8_t* __restrict out, const uint8_t* __restrict row, int64_t width, int64_t w) {
  for (int64_t x = w; x < width; ++x) out[x] = std::max(out[x], row[x - w]);
  for (int64_t x = 0; x + w < width; ++x) out[x] = std::max(out[x], row[x + w]);
}

void maxInto(uint8_t* __restrict out, const uint8_t* __restrict row, int64_t width) {
  for (int64_t x = 0; x < width; ++x) out[x] = std::max(out[x], row[x]);
}

}  // namespace

bool dilateDisk(Picture source, MutablePicture out, double radius) {
  const int64_t width = source.width, height = source.height;
  if (width <= 0 || height <= 0 || out.width != width || out.height != height) return false;
  if (!(radius >= 1)) {
    for (int64_t y = 0; y < height; ++y) std::memcpy(out.row(y), source.row(y), static_cast<size_t>(width));
    return true;
  }
  // Offsets beyond the frame add nothing, so the disk is cut to the frame.
  radius = std::min(radius, static_cast<double>(width + height));
  const int64_t reach = std::min(static_cast<int64_t>(std::floor(radius)), height - 1);
  std::vector<int64_t> half(static_cast<size_t>(reach + 1));
  for (int64_t dy = 0; dy <= reach; ++dy) {
    half[static_cast<size_t>(dy)] = std::min(halfWidth(radius, dy), width - 1);
  }
  // Distinct half-widths, smallest first; slotOf[dy] says which one row dy uses.
  std::vector<int64_t> widths(half.rbegin(), half.rend());
  widths.erase(std::unique(widths.begin(), widths.end()), widths.end());
  std::vector<size_t> slotOf(half.size());
  for (size_t dy = 0; dy < half.size(); ++dy) {
    slotOf[dy] = static_cast<size_t>(std::lower_bound(widths.begin(), widths.end(), half[dy]) -
                                     widths.begin());
  }

  const auto w = static_cast<size_t>(width);
  const int64_t ringRows = 2 * reach + 1;
  std::vector<uint8_t> ring(static_cast<size_t>(ringRows) * widths.size() * w);
  const auto segment = [&](int64_t row, size_t slot) {
    return ring.data() + (static_cast<size_t>(row % ringRows) * widths.size() + slot) * w;
  };
  std::vector<uint8_t> running(w);
  const auto prepare = [&](int64_t row) {
    const uint8_t* src = source.row(row);
    std::memcpy(running.data(), src, w);
    int64_t done = 0;
    for (size_t slot = 0; slot < widths.size(); ++slot) {
      for (; done < widths[slot];) widen(running.data(), src, width, ++done);
      std::memcpy(segment(row, slot), running.data(), w);
    }
  };

  int64_t prepared = 0;  // rows [0, prepared) are in the ring
  for (int64_t y = 0; y < height; ++y) {
    for (; prepared <= std::min(y + reach, height - 1); ++prepared) prepare(prepared);
    uint8_t* o = out.row(y);
    std::memcpy(o, segment(y, slotOf[0]), w);
    for (int64_t dy = 1; dy <= reach; ++dy) {
      const size_t slot = slotOf[static_cast<size_t>(dy)];
      if (y - dy >= 0) maxInto(o, segment(y - dy, slot), width);
      if (y + dy < height) maxInto(o, segment(y + dy, slot), width);
    }
  }
  return true;
}

}  // namespace kestrel::imaging
