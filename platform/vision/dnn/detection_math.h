#pragma once
// Geometry shared by the detectors: letterboxing a picture into a square
// model input, box overlap and non-maximum suppression. Plain data only.
#include <cstddef>
#include <vector>

namespace kestrel::vision::dnn {

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
  // A length along x in input units, in picture pixels.
  double toPictureLength(double l) const { return l * side * width / innerWidth; }
};

double sigmoid(double logit);

}  // namespace kestrel::vision::dnn
