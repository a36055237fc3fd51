#include "platform/vision/dnn/instances.h"

#include <string>

#include <opencv2/imgproc.hpp>

#include "platform/vision/dnn/vision_model.h"
#include "platform/vision/dnn/person_matte.h"

namespace kestrel::vision::dnn {
namespace {

// The side ISNet runs at: models/recipes/instances.sh scales the model's baked
// sizes to 256, 320 and 384 (isnet_<side>.onnx); the build picks one with
// KESTREL_INSTANCE_SIDE. The work grows with the square of the side (10 GMAC
// at 256); larger sides draw finer outlines of small objects.
#ifndef KESTREL_INSTANCE_SIDE
#define KESTREL_INSTANCE_SIDE 256
#endif
constexpr int kSide = KESTREL_INSTANCE_SIDE;
// The label map's longer side: fine enough for a hand-sized object in a
// 1280-pixel frame, small enough that labelling costs little.
constexpr int kMapSide = 320;

cv::Mat asMap(const cv::Mat& soft, const cv::Size& size, int type) {
  cv::Mat out;
  cv::resize(soft, out, size, 0, 0, soft.cols > size.width ? cv::INTER_AREA : cv::INTER_LINEAR);
  if (type == CV_8U) out.convertTo(out, CV_8U, 255.0);
  return out;
}

// A box in picture pixels in the pixels of a map of the whole picture.
Corners inMap(const Corners& b, const cv::Size& picture, const cv::Size& map) {
  const double w = map.width, h = map.height;
  return {b.x0 * w / picture.width, b.y0 * h / picture.height, b.x1 * w / picture.width, b.y1 * h / picture.height};
}

// ISNet reads the picture squashed to its square, RGB, (v - 128) / 256.
VisionModel salientModel(int side) {
  return {"isnet_" + std::to_string(side) + ".onnx",
          {{{1, 3, side, side}}, {{"output", {1, 1, side, side}}}},
          "model isnet",
          {1.0f / 256, -0.5f}};
}

}  // namespace

int instanceSide() { return kSide; }

void prepareInstances() { loadSoon(salientModel(kSide), LoadTurn::AfterFirstPicture); }

bool salientModelReady() {
  prepareInstances();
  return loaded(salientModel(kSide));
}

cv::Mat salientMap(const cv::Mat& bgr, int side) {
  cv::Mat small;
  cv::resize(bgr, small, cv::Size(side, side), 0, 0, cv::INTER_AREA);
  const VisionModel model = salientModel(side);
  engine::Network& net = network(model);
  run(model, net, small);
  return cv::Mat(side, side, CV_32F, const_cast<float*>(net.output("output"))).clone();
}

bool showsPerson(const cv::Mat& matte) { return !matte.empty() && cv::countNonZero(matte >= kPersonMatteLevel) > 0; }

Instances segmentInstances(const cv::Mat& salient, const cv::Size& picture, const cv::Mat& matte,
                           const std::vector<Corners>& people, const std::vector<Corners>& things) {
  const cv::Size size = fitWithin(picture, kMapSide);
  const auto inThisMap = [&](const std::vector<Corners>& boxes) {
    std::vector<Corners> out;
    for (const Corners& b : boxes) out.push_back(inMap(b, picture, size));
    return out;
  };
  Instances result;
  result.map = labelInstances(asMap(salient, size, CV_32F), matte.empty() ? cv::Mat() : asMap(matte, size, CV_8U),
                              inThisMap(people), inThisMap(things));
  // Kept as bytes: every scaled mask of the frame starts from them.
  salient.convertTo(result.soft.salient, CV_8U, 255.0);
  if (!matte.empty()) matte.convertTo(result.soft.person, CV_8U, 255.0);
  return result;
}

Matte scaledInstanceMask(const Instances& instances, const std::vector<uint8_t>& chosen, int width,
                         int height) {
  return scaledChosenMask(instances.soft, instances.map, chosen, width, height);
}

}  // namespace kestrel::vision::dnn
