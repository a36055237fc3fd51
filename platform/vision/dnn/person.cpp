// Person segmentation: MediaPipe's Meet model (fast), Selfie (balanced) and
// Selfie snapped to the picture's edges by a guided filter (accurate).
#include <opencv2/imgproc.hpp>

#include "platform/vision/dnn/model_files.h"
#include "platform/vision/dnn/model_input.h"
#include "platform/vision/dnn/modules.h"
#include "platform/vision/dnn/person_matte.h"

namespace kestrel::vision::dnn {
namespace {

// The refined matte's longer side, and the guided filter's window and
// smoothing: the window spans the Selfie matte's soft edge once scaled to
// 640 (about 3 of its pixels), small enough to follow hair and fingers.
constexpr int kRefineSide = 640;
constexpr int kRefineRadius = 8;
constexpr double kRefineEps = 1e-3;

// The picture stretched to the model's input, RGB in 0..1, channels first.
const float* run(engine::Network& net, const cv::Mat& bgr, cv::Size input) {
  cv::Mat small;
  cv::resize(bgr, small, input, 0, 0, cv::INTER_AREA);
  writeRgbPlanes(small, 1.0f / 255, 0, net.input());
  net.run();
  return net.output(net.outputName(0));
}

cv::Mat selfie(const cv::Mat& bgr) {
  static engine::Network& net = loadModel("person_selfie.onnx", {{{1, 3, 256, 256}}, {{"matte", {1, 1, 256, 256}}}});
  return cv::Mat(256, 256, CV_32F, const_cast<float*>(run(net, bgr, cv::Size(256, 256)))).clone();
}

cv::Mat meet(const cv::Mat& bgr) {
  static engine::Network& net = loadModel("person_meet.onnx", {{{1, 3, 144, 256}}, {{"logits", {1, 2, 144, 256}}}});
  return personProbability(run(net, bgr, cv::Size(256, 144)), 144, 256);
}

}  // namespace

Matte segmentPerson(const cv::Mat& bgr, PersonQuality quality) {
  switch (quality) {
    case PersonQuality::Fast:
      return toMatte(meet(bgr));
    case PersonQuality::Balanced:
      return toMatte(selfie(bgr));
    case PersonQuality::Accurate:
    default: {
      cv::Mat guide;
      cv::resize(bgr, guide, refineSize(bgr.size(), kRefineSide), 0, 0, cv::INTER_AREA);
      return toMatte(refineToEdges(selfie(bgr), guide, kRefineRadius, kRefineEps));
    }
  }
}

}  // namespace kestrel::vision::dnn
