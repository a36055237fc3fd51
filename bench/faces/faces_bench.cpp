// Faces benchmark: per-model forward times (median of 20) and the whole
// faces-plus-landmarks cost of one full HD frame with one face.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench/support/median.h"
#include "platform/vision/dnn/model_files.h"
#include "platform/vision/vision.h"

using namespace kestrel;
using kestrel::bench::warmMedianMs;

namespace {

// One model on the executor, random input.
void model(const char* name) {
  auto net = vision::engine::Network::load(vision::dnn::modelPath(name), name);
  cv::Mat input(1, static_cast<int>(vision::engine::elementCount(net->inputDims(0))), CV_32F, net->input());
  cv::randu(input, 0.0f, 1.0f);
  const double ms = warmMedianMs(20, [&] { net->run(); });
  std::printf("%-26s %8.1f ms\n", name, ms);
}

double frameMs(const cv::Mat& bgr, bool landmarks, size_t& faces) {
  cv::Mat bgra;
  cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
  const Picture picture{bgra.data, bgra.cols, bgra.rows, static_cast<int64_t>(bgra.step)};
  vision::Requests r;
  r.faceRectangles = true;
  r.faceLandmarks = landmarks;
  return warmMedianMs(20, [&] {
    vision::Results results;
    std::string error;
    auto handler = vision::service().handler(picture, 1);
    if (!handler->perform(r, results, error)) std::fprintf(stderr, "%s\n", error.c_str());
    faces = results.faces.size();
  });
}

}  // namespace

int main() {
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  const std::string data = "/usr/lib/python3/dist-packages/skimage/data/";
  cv::Mat frame, astronaut = cv::imread(data + "astronaut.png");
  cv::resize(cv::imread(data + "coffee.png"), frame, cv::Size(1920, 1080));
  if (astronaut.empty() || frame.empty()) {
    std::fprintf(stderr, "the skimage photos are missing; install python3-skimage\n");
    return 1;
  }
  cv::Mat head;
  cv::resize(astronaut(cv::Rect(110, 40, 230, 220)), head, cv::Size(460, 440));
  head.copyTo(frame(cv::Rect(700, 300, head.cols, head.rows)));

  std::printf("faces benchmark, %d OpenCV threads, median of 20 runs\n", cv::getNumThreads());
  model("blazeface_back_256.onnx");
  model("facemesh.onnx");
  model("iris.onnx");
  size_t faces = 0;
  const double boxes = frameMs(frame, false, faces);
  std::printf("%-26s %8.1f ms (%zu face)\n", "1080p faces", boxes, faces);
  const double all = frameMs(frame, true, faces);
  std::printf("%-26s %8.1f ms (%zu face)\n", "1080p faces + landmarks", all, faces);
  cv::Mat small;
  cv::resize(frame, small, cv::Size(960, 540), 0, 0, cv::INTER_AREA);
  const double half = frameMs(small, true, faces);
  std::printf("%-26s %8.1f ms (%zu face, no tiles)\n", "540p faces + landmarks", half, faces);
  return 0;
}
