#include "platform/vision/dnn/hand_windows.h"

#include <algorithm>
#include <cmath>

namespace kestrel::vision::dnn {
namespace {

constexpr double kPalmShare = 0.08;      // of the box's geometric mean side
constexpr double kHandsReachDown = 0.8;  // of the box's height
constexpr double kPalmsOverlap = 1.5;    // neighbouring windows share this many palms

// A person's reach within the picture, and the scale it is seen at.
struct Reach {
  Corners area;
  double scale = 1;    // picture pixels per detector pixel
  double overlap = 0;  // picture pixels
};

bool holds(const Tile& w, const Corners& a) {
  return a.x0 >= w.x && a.y0 >= w.y && a.x1 <= w.x + w.side && a.y1 <= w.y + w.side;
}

// Starts of windows of `side` along [from, to), spread evenly so that
// neighbours overlap by at least `overlap`, each kept inside 0..limit.
std::vector<double> starts(double from, double to, double side, double overlap, int limit) {
  const double length = to - from;
  if (length <= side) return {placedInside(from, side, limit)};
  const int n = static_cast<int>(std::ceil((length - overlap) / (side - overlap)));
  std::vector<double> s;
  for (int i = 0; i < n; ++i) s.push_back(placedInside(from + (length - side) * i / std::max(1, n - 1), side, limit));
  return s;
}

}  // namespace

double palmSide(const Corners& p) {
  const double w = p.x1 - p.x0, h = p.y1 - p.y0;
  return w > 0 && h > 0 ? kPalmShare * std::sqrt(w * h) : 0;
}

Corners handReach(const Corners& p) {
  const double palm = palmSide(p);
  return {p.x0 - palm, p.y0 - palm, p.x1 + palm, p.y0 + kHandsReachDown * (p.y1 - p.y0)};
}

std::vector<Tile> handWindows(const std::vector<Corners>& people, int width, int height, double side) {
  std::vector<Reach> reaches;
  for (const Corners& p : people) {
    const double palm = palmSide(p);
    if (!(palm >= kSmallestPalm)) continue;
    // A palm whose centre lies at the reach's edge still shows whole.
    const Corners r = handReach(p);
    const Corners a{std::max(r.x0 - palm, 0.0), std::max(r.y0 - palm, 0.0), std::min(r.x1 + palm, double(width)),
                    std::min(r.y1 + palm, double(height))};
    if (!(a.x1 > a.x0 && a.y1 > a.y0)) continue;
    reaches.push_back({a, std::max(palm / kPalmInView, kFinestWindow), kPalmsOverlap * palm});
  }
  std::stable_sort(reaches.begin(), reaches.end(), [](const Reach& a, const Reach& b) {
    return a.area.y0 != b.area.y0 ? a.area.y0 < b.area.y0 : a.area.x0 < b.area.x0;
  });
  std::vector<Tile> windows;
  std::vector<bool> held(reaches.size(), false);
  for (size_t i = 0; i < reaches.size(); ++i) {
    if (held[i]) continue;
    const Reach& r = reaches[i];
    const double s = std::floor(side * r.scale);
    for (double y : starts(r.area.y0, r.area.y1, s, r.overlap, height))
      for (double x : starts(r.area.x0, r.area.x1, s, r.overlap, width)) {
        const Tile w{x, y, s};
        windows.push_back(w);
        for (size_t j = i + 1; j < reaches.size(); ++j)
          if (reaches[j].scale >= r.scale && holds(w, reaches[j].area)) held[j] = true;
      }
  }
  return windows;
}

Corners mainPerson(const std::vector<Corners>& people, const std::optional<PixelPoint>& face) {
  auto area = [](const Corners& c) { return (c.x1 - c.x0) * (c.y1 - c.y0); };
  auto holdsFace = [&](const Corners& c) {
    return face && face->x >= c.x0 && face->x < c.x1 && face->y >= c.y0 && face->y < c.y1;
  };
  // Holding the face counts first, then the area.
  return *std::max_element(people.begin(), people.end(), [&](const Corners& a, const Corners& b) {
    if (holdsFace(a) != holdsFace(b)) return holdsFace(b);
    return area(a) < area(b);
  });
}

bool inReach(const std::vector<Corners>& people, PixelPoint p) {
  return std::any_of(people.begin(), people.end(), [&](const Corners& person) {
    const Corners r = handReach(person);
    return p.x >= r.x0 && p.x < r.x1 && p.y >= r.y0 && p.y < r.y1;
  });
}

}  // namespace kestrel::vision::dnn
