#pragma once
// Decoding the SSD-style detectors (BlazeFace, MediaPipe's palm detector):
// a grid of anchors over a square input, and per anchor a score logit and a
// row of regressors: the box centre's offset from the anchor, the box's width
// and height, then each keypoint's offset, all in input pixels. Plain data only.
#include <array>
#include <initializer_list>
#include <vector>

#include "platform/vision/dnn/detection_geometry.h"

namespace kestrel::vision::dnn {

// Anchor centres (0..1 of a square input): for each layer, a grid of cells
// `stride` input pixels wide with `perCell` anchors at each cell's centre;
// layers one after another, rows ordered cell y, cell x, anchor.
struct AnchorLayer {
  int stride = 0, perCell = 0;
};
std::vector<PixelPoint> ssdAnchors(int inputSide, std::initializer_list<AnchorLayer> layers);

// Maps input pixels to picture pixels: picture = input * scale + offset.
struct InputPlacement {
  double scaleX = 1, scaleY = 1, offsetX = 0, offsetY = 0;
};
// The placement of a letterboxed input.
InputPlacement placementOf(const Letterbox& box);

// One detection with `Keypoints` keypoints, in picture pixels (top-left
// origin, y down).
template <int Keypoints>
struct SsdDetection {
  float score = 0;
  double x = 0, y = 0, width = 0, height = 0;  // box: top-left corner and size
  std::array<PixelPoint, Keypoints> keypoints{};
};

// The detections of one run scoring at least `threshold` (the sigmoid of the
// logit), in picture pixels. `regressors` holds 4 + 2 x Keypoints values per
// anchor, in the anchors' order.
template <int Keypoints>
std::vector<SsdDetection<Keypoints>> decodeSsd(const float* logits, const float* regressors,
                                               const std::vector<PixelPoint>& anchors, int inputSide,
                                               const InputPlacement& placement, float threshold);

// What mergeOverlaps averages of a detection: its box and keypoints.
template <int Keypoints>
Corners boxOf(const SsdDetection<Keypoints>& d) {
  return {d.x, d.y, d.x + d.width, d.y + d.height};
}
template <int Keypoints>
std::array<double, 4 + 2 * Keypoints> coordinatesOf(const SsdDetection<Keypoints>& d) {
  std::array<double, 4 + 2 * Keypoints> c{d.x, d.y, d.width, d.height};
  for (int k = 0; k < Keypoints; ++k) c[4 + 2 * k] = d.keypoints[k].x, c[5 + 2 * k] = d.keypoints[k].y;
  return c;
}
template <int Keypoints>
SsdDetection<Keypoints> withCoordinates(SsdDetection<Keypoints> d, const std::array<double, 4 + 2 * Keypoints>& c) {
  d.x = c[0], d.y = c[1], d.width = c[2], d.height = c[3];
  for (int k = 0; k < Keypoints; ++k) d.keypoints[k] = {c[4 + 2 * k], c[5 + 2 * k]};
  return d;
}

}  // namespace kestrel::vision::dnn
