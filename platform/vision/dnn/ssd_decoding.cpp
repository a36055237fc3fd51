#include "platform/vision/dnn/ssd_decoding.h"

#include <algorithm>
#include <cmath>

namespace kestrel::vision::dnn {

std::vector<PixelPoint> ssdAnchors(int inputSide, std::initializer_list<AnchorLayer> layers) {
  std::vector<PixelPoint> anchors;
  for (const AnchorLayer& layer : layers) {
    const int cells = inputSide / layer.stride;
    for (int y = 0; y < cells; ++y)
      for (int x = 0; x < cells; ++x)
        for (int k = 0; k < layer.perCell; ++k) anchors.push_back({(x + 0.5) / cells, (y + 0.5) / cells});
  }
  return anchors;
}

InputPlacement placementOf(const Letterbox& box) {
  const double sx = static_cast<double>(box.width) / box.innerWidth;
  const double sy = static_cast<double>(box.height) / box.innerHeight;
  return {sx, sy, -box.offsetX * sx, -box.offsetY * sy};
}

template <int Keypoints>
std::vector<SsdDetection<Keypoints>> decodeSsd(const float* logits, const float* regressors,
                                               const std::vector<PixelPoint>& anchors, int inputSide,
                                               const InputPlacement& p, float threshold) {
  constexpr size_t kValues = 4 + 2 * Keypoints;
  std::vector<SsdDetection<Keypoints>> out;
  for (size_t i = 0; i < anchors.size(); ++i) {
    const float logit = std::clamp(logits[i], -100.0f, 100.0f);
    const float score = 1.0f / (1.0f + std::exp(-logit));
    if (!(score >= threshold)) continue;
    const float* r = regressors + i * kValues;
    const double ax = anchors[i].x * inputSide, ay = anchors[i].y * inputSide;
    const double w = std::abs(r[2]), h = std::abs(r[3]);
    SsdDetection<Keypoints> d;
    d.score = score;
    d.width = w * p.scaleX;
    d.height = h * p.scaleY;
    d.x = (ax + r[0] - w / 2) * p.scaleX + p.offsetX;
    d.y = (ay + r[1] - h / 2) * p.scaleY + p.offsetY;
    for (int k = 0; k < Keypoints; ++k)
      d.keypoints[k] = {(ax + r[4 + 2 * k]) * p.scaleX + p.offsetX, (ay + r[5 + 2 * k]) * p.scaleY + p.offsetY};
    out.push_back(d);
  }
  return out;
}

// The two detectors: BlazeFace's six keypoints, the palm's seven.
template std::vector<SsdDetection<6>> decodeSsd<6>(const float*, const float*, const std::vector<PixelPoint>&,
                                                   int, const InputPlacement&, float);
template std::vector<SsdDetection<7>> decodeSsd<7>(const float*, const float*, const std::vector<PixelPoint>&,
                                                   int, const InputPlacement&, float);

}  // namespace kestrel::vision::dnn
