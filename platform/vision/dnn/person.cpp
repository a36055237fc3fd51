// Person segmentation at the fast and balanced levels: MediaPipe's Meet and
// Selfie models. Each level is one entry of `levels`: its model and how its
// output becomes a person probability.
#include "platform/vision/dnn/person.h"

#include <opencv2/imgproc.hpp>

#include "platform/vision/dnn/model_spec.h"
#include "platform/vision/dnn/person_matte.h"

namespace kestrel::vision::dnn {
namespace {

struct PersonLevel {
  PersonQuality quality;
  // Reads the picture stretched to its input, RGB in 0..1, channels first.
  ModelSpec model;
  // Its first output (height x width) as a probability map, CV_32F.
  cv::Mat (*probability)(const float* output, int height, int width);
};

cv::Mat copied(const float* output, int height, int width) {
  return cv::Mat(height, width, CV_32F, const_cast<float*>(output)).clone();
}

const PersonLevel& level(PersonQuality quality) {
  // Selfie gives a sigmoid matte; Meet two-class logits.
  static const PersonLevel levels[] = {
      {PersonQuality::Balanced,
       {"person_selfie.onnx", {{{1, 3, 256, 256}}, {{"matte", {1, 1, 256, 256}}}}, "model selfie", {}},
       copied},
      {PersonQuality::Fast,
       {"person_meet.onnx", {{{1, 3, 144, 256}}, {{"logits", {1, 2, 144, 256}}}}, "model meet", {}},
       personProbability},
  };
  for (const PersonLevel& l : levels)
    if (l.quality == quality) return l;
  return levels[0];
}

}  // namespace

void preparePerson(PersonQuality quality) {
  if (quality != PersonQuality::Accurate) loadSoon(level(quality).model);
}

Matte segmentPerson(const cv::Mat& bgr, PersonQuality quality) {
  const PersonLevel& l = level(quality);
  const engine::Dims& input = l.model.contract.inputs[0];
  const int height = static_cast<int>(input[2]), width = static_cast<int>(input[3]);
  engine::Network& net = network(l.model);
  cv::Mat small;
  cv::resize(bgr, small, cv::Size(width, height), 0, 0, cv::INTER_AREA);
  run(l.model, net, small);
  return toMatte(l.probability(net.output(net.outputName(0)), height, width));
}

}  // namespace kestrel::vision::dnn
