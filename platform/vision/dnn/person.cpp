// Person segmentation at the fast and balanced levels: MediaPipe's Meet and
// Selfie models.
#include <opencv2/imgproc.hpp>

#include "platform/vision/dnn/model_files.h"
#include "platform/vision/dnn/model_input.h"
#include "platform/vision/dnn/modules.h"
#include "platform/vision/dnn/person_matte.h"

namespace kestrel::vision::dnn {
namespace {

// The picture stretched to the model's input, RGB in 0..1, channels first.
const float* run(engine::Network& net, const cv::Mat& bgr, cv::Size input) {
  cv::Mat small;
  cv::resize(bgr, small, input, 0, 0, cv::INTER_AREA);
  writeRgbPlanes(small, 1.0f / 255, 0, net.input());
  net.run();
  return net.output(net.outputName(0));
}

const ModelContract SELFIE_CONTRACT{{{1, 3, 256, 256}}, {{"matte", {1, 1, 256, 256}}}};
const ModelContract MEET_CONTRACT{{{1, 3, 144, 256}}, {{"logits", {1, 2, 144, 256}}}};

cv::Mat selfie(const cv::Mat& bgr) {
  static engine::Network& net = loadModel("person_selfie.onnx", SELFIE_CONTRACT);
  return cv::Mat(256, 256, CV_32F, const_cast<float*>(run(net, bgr, cv::Size(256, 256)))).clone();
}

cv::Mat meet(const cv::Mat& bgr) {
  static engine::Network& net = loadModel("person_meet.onnx", MEET_CONTRACT);
  return personProbability(run(net, bgr, cv::Size(256, 144)), 144, 256);
}

}  // namespace

void preparePerson(PersonQuality quality) {
  if (quality == PersonQuality::Fast) loadModelSoon("person_meet.onnx", MEET_CONTRACT);
  if (quality == PersonQuality::Balanced) loadModelSoon("person_selfie.onnx", SELFIE_CONTRACT);
}

Matte segmentPerson(const cv::Mat& bgr, PersonQuality quality) {
  return toMatte(quality == PersonQuality::Fast ? meet(bgr) : selfie(bgr));
}

}  // namespace kestrel::vision::dnn
