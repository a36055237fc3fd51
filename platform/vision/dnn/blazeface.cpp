#include "platform/vision/dnn/blazeface.h"

#include <algorithm>
#include <cmath>

namespace kestrel::vision::dnn {

const std::vector<PixelPoint>& blazefaceAnchors() {
  static const std::vector<PixelPoint> anchors = ssdAnchors(kBlazefaceSize, {{16, 2}, {32, 6}});
  return anchors;
}

std::vector<Tile> tilesFor(int width, int height, double side, double overlap) {
  std::vector<Tile> tiles;
  if (side <= 0 || overlap >= side || std::max(width, height) <= side * 1.25) return tiles;
  // Starts spread evenly so that neighbours overlap by at least `overlap`.
  auto starts = [&](int length) {
    std::vector<double> s;
    if (length <= side) return std::vector<double>{(length - side) / 2};
    const int n = static_cast<int>(std::ceil((length - overlap) / (side - overlap)));
    for (int i = 0; i < n; ++i) s.push_back((length - side) * i / std::max(1, n - 1));
    return s;
  };
  for (double y : starts(height))
    for (double x : starts(width)) tiles.push_back({x, y, side});
  return tiles;
}

double placedInside(double start, double length, int limit) {
  if (length >= limit) return std::floor((limit - length) / 2);
  return std::floor(std::clamp(start, 0.0, limit - length));
}

Tile headRegion(const Corners& person) {
  const double w = person.x1 - person.x0, h = person.y1 - person.y0;
  const double side = std::max(w, h / 2);
  return {(person.x0 + person.x1 - side) / 2, person.y0 - side / 10, side};
}

std::vector<Tile> headWindows(const std::vector<Corners>& people, int width, int height, double side,
                              double view, double smallest, double largest) {
  // Head regions cut to the picture, top left first, each with the coarsest
  // power-of-two scale that still shows it at least `view` pixels wide.
  struct Region {
    Corners area;
    double scale = 1;  // picture pixels per detector pixel
  };
  std::vector<Region> regions;
  for (const Corners& p : people) {
    if (!(p.x1 > p.x0 && p.y1 > p.y0)) continue;
    const Tile t = headRegion(p);
    if (t.side < smallest || t.side >= largest) continue;
    const Corners r{std::max(t.x, 0.0), std::max(t.y, 0.0), std::min(t.x + t.side, double(width)),
                    std::min(t.y + t.side, double(height))};
    if (!(r.x1 > r.x0 && r.y1 > r.y0)) continue;
    double scale = 1;
    while (t.side >= 2 * scale * view) scale *= 2;
    regions.push_back({r, scale});
  }
  std::stable_sort(regions.begin(), regions.end(), [](const Region& a, const Region& b) {
    return a.area.y0 != b.area.y0 ? a.area.y0 < b.area.y0 : a.area.x0 < b.area.x0;
  });
  std::vector<Tile> windows;
  std::vector<bool> held(regions.size(), false);
  for (size_t i = 0; i < regions.size(); ++i) {
    if (held[i]) continue;
    const Corners& r = regions[i].area;
    const double s = std::max(side * regions[i].scale, std::ceil(std::max(r.x1 - r.x0, r.y1 - r.y0)));
    const Tile w{placedInside(r.x0, s, width), placedInside(r.y0, s, height), s};
    windows.push_back(w);
    // A window also holds the later regions that fit in it and need no finer view.
    for (size_t j = i; j < regions.size(); ++j) {
      const Corners& o = regions[j].area;
      if (regions[j].scale >= regions[i].scale && o.x0 >= w.x && o.y0 >= w.y && o.x1 <= w.x + w.side &&
          o.y1 <= w.y + w.side)
        held[j] = true;
    }
  }
  return windows;
}

}  // namespace kestrel::vision::dnn
