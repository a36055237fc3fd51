// Foreground instances: ISNet's salient map, cut into instances, with people
// split from what they hold by the person matte.
#include <opencv2/imgproc.hpp>

#include "platform/vision/dnn/instance_map.h"
#include "platform/vision/dnn/model_files.h"
#include "platform/vision/dnn/model_input.h"
#include "platform/vision/dnn/modules.h"

namespace kestrel::vision::dnn {
namespace {

// The side the model runs at: set by models/recipes/instances.sh, which scales
// the model's baked sizes to it. 256 runs in about two thirds of 320's time
// (200 against 300 ms on two cores) and still separates subjects; 320 draws
// finer outlines (a helmet, a cat's fur) but misses the live budget.
constexpr int kSide = 256;
constexpr const char* kModel = "isnet_256.onnx";

// The picture squashed to the model's square, RGB, (x - 128) / 256.
cv::Mat salientMap(const cv::Mat& bgr) {
  cv::Mat small;
  cv::resize(bgr, small, cv::Size(kSide, kSide), 0, 0, cv::INTER_AREA);
  static engine::Network& net = loadModel(kModel, {{{1, 3, kSide, kSide}}, {{"output", {1, 1, kSide, kSide}}}});
  writeRgbPlanes(small, 1.0f / 256, -0.5f, net.input());
  net.run();
  return cv::Mat(kSide, kSide, CV_32F, const_cast<float*>(net.output("output"))).clone();
}

// A person matte at the salient map's size, or empty when there is none.
cv::Mat personAtSide(const cv::Mat& bgr, PersonQuality quality) {
  Matte matte = segmentPerson(bgr, quality);
  if (matte.pixels.empty()) return {};
  cv::Mat m(static_cast<int>(matte.height), static_cast<int>(matte.width), CV_8U, matte.pixels.data());
  cv::Mat out;
  cv::resize(m, out, cv::Size(kSide, kSide), 0, 0, cv::INTER_LINEAR);
  return out;
}

}  // namespace

Instances segmentInstances(const cv::Mat& bgr) {
  Instances result;
  result.salient = salientMap(bgr);
  const InstanceSettings settings;
  // The mattes are only worth their time when there is foreground to split.
  // Selfie draws the person; Meet, a different model, confirms what is not one.
  cv::Mat person, check;
  if (cv::countNonZero(result.salient >= settings.threshold) >= minimumArea(result.salient.size(), settings)) {
    person = personAtSide(bgr, PersonQuality::Balanced);
    check = personAtSide(bgr, PersonQuality::Fast);
  }
  result.observation = labelInstances(result.salient, person, check, settings);
  return result;
}

Matte scaledInstanceMask(const Instances& instances, const std::vector<uint8_t>& chosen, int width,
                         int height) {
  return scaledChosenMask(instances.salient, instances.observation, chosen, width, height);
}

}  // namespace kestrel::vision::dnn
