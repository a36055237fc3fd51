#pragma once
// Geometry shared by the detectors: boxes and their overlap, suppression and
// score-weighted merging, letterboxing a picture into a square model input
// and the rotated square crops the landmark models read. Plain data only.
#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "platform/vision/observations.h"

namespace kestrel::vision::dnn {

// A point in picture (or model input) pixels, top-left origin, y down.
using PixelPoint = Point;

// An axis-aligned box by its corners, in whatever units the caller uses.
struct Corners {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

double intersectionOverUnion(const Corners& a, const Corners& b);

// Indices of the boxes kept by greedy non-maximum suppression: strongest
// first, a box is dropped when it overlaps a kept one by more than maxOverlap.
// At most `limit` indices (0: no limit), in order of falling score.
std::vector<size_t> suppressOverlaps(const std::vector<Corners>& boxes,
                                     const std::vector<float>& scores, double maxOverlap,
                                     size_t limit = 0);

// Groups the detections that overlap the strongest remaining one by more than
// maxOverlap and replaces each group by its score-weighted average, keeping
// the strongest one's score; strongest first, at most `limit` (0: no limit).
// A record T has a `score` and, found beside it, `Corners boxOf(const T&)`,
// `coordinatesOf(const T&)` (a std::array<double, N> of all it places: box
// and keypoints) and `withCoordinates(T, const std::array<double, N>&)`.
template <class T>
std::vector<T> mergeOverlaps(std::vector<T> rest, double maxOverlap, size_t limit = 0) {
  std::stable_sort(rest.begin(), rest.end(), [](const T& a, const T& b) { return a.score > b.score; });
  std::vector<T> merged;
  while (!rest.empty() && (limit == 0 || merged.size() < limit)) {
    const Corners top = boxOf(rest.front());
    decltype(coordinatesOf(rest.front())) sum{};
    double weight = 0;
    std::vector<T> left;
    for (size_t i = 0; i < rest.size(); ++i) {
      // The strongest always joins its own group, even as a box of no area.
      if (i > 0 && !(intersectionOverUnion(top, boxOf(rest[i])) > maxOverlap)) {
        left.push_back(rest[i]);
        continue;
      }
      const double w = rest[i].score;
      const auto values = coordinatesOf(rest[i]);
      for (size_t k = 0; k < sum.size(); ++k) sum[k] += values[k] * w;
      weight += w;
    }
    if (weight > 0)
      for (double& v : sum) v /= weight;
    merged.push_back(weight > 0 ? withCoordinates(rest.front(), sum) : rest.front());
    rest = std::move(left);
  }
  return merged;
}

// A width x height picture scaled uniformly to fit a side x side model input
// and centred in it, the rest padded. Maps the input's normalised coordinates
// (0..1 across the square, top left origin) back to picture pixels.
struct Letterbox {
  int side = 0;                          // the model input's side
  int width = 0, height = 0;             // the picture
  int innerWidth = 0, innerHeight = 0;   // the picture's size inside the input
  int offsetX = 0, offsetY = 0;          // where it starts inside the input

  static Letterbox fit(int width, int height, int side);
  double toPictureX(double u) const { return (u * side - offsetX) * width / innerWidth; }
  double toPictureY(double v) const { return (v * side - offsetY) * height / innerHeight; }
};

// A square of `side` picture pixels centred on `centre`, turned by `angle`
// radians (so that a line at that angle in the picture is level in the crop)
// and, when `mirror`, flipped left to right: what a landmark model reads.
struct RotatedCrop {
  PixelPoint centre;
  double side = 0;
  double angle = 0;
  bool mirror = false;
};

// The angle of the line from `from` to `to`, in picture pixels (y down).
double lineAngle(PixelPoint from, PixelPoint to);

// Maps picture pixels to the pixels of a crop scaled to some size:
// crop = A * picture + t.
struct CropTransform {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;  // [a b tx; c d ty]
  PixelPoint toPicture(PixelPoint q) const;
  double pictureScale() const;  // picture pixels per crop pixel
  // The map as a 2x3 matrix for image warping, which puts pixel (i, j) at
  // point (i, j); with pixel centres, pixel (i, j) is the point (i + 0.5,
  // j + 0.5) on both sides.
  std::array<double, 6> warp() const { return {a, b, tx, c, d, ty}; }
  std::array<double, 6> warpAtPixelCentres() const;
};
CropTransform cropTransform(const RotatedCrop& crop, int size);

}  // namespace kestrel::vision::dnn
