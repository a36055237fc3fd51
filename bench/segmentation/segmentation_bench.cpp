// Times of the person mattes and the instance map on a 1280x720 frame, as the
// cutout stream asks for them through the vision service.
//   segmentation_bench [PHOTO] [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench/support/median.h"
#include "platform/vision/vision.h"

using namespace kestrel;
using namespace kestrel::vision;
using kestrel::bench::warmMedianMs;

int main(int argc, char** argv) {
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  const std::string photo = argc > 1 ? argv[1] : "/usr/lib/python3/dist-packages/skimage/data/astronaut.png";
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
  cv::Mat bgr = cv::imread(photo, cv::IMREAD_COLOR);
  if (bgr.empty()) {
    std::fprintf(stderr, "can't read %s\n", photo.c_str());
    return 1;
  }
  cv::Mat frame;
  cv::resize(bgr, frame, cv::Size(1280, 720), 0, 0, cv::INTER_LINEAR);
  cv::cvtColor(frame, frame, cv::COLOR_BGR2BGRA);
  Picture picture{frame.data, frame.cols, frame.rows, static_cast<int64_t>(frame.step)};

  auto perform = [&](const Requests& r) {
    auto handler = service().handler(picture, 1);
    Results results;
    std::string error;
    if (!handler->perform(r, results, error)) {
      std::fprintf(stderr, "Vision: %s\n", error.c_str());
      std::exit(1);
    }
  };
  std::printf("segmentation at 1280x720, median of %d runs (%s)\n", runs, photo.c_str());
  const struct {
    const char* name;
    PersonQuality quality;
    double target;
  } mattes[] = {{"person matte fast (RVM 320x180, ratio 0.65)", PersonQuality::Fast, 10},
                {"person matte balanced (RVM 640x360, ratio 0.375)", PersonQuality::Balanced, 20},
                {"person matte accurate (RVM 640x360, ratio 0.5)", PersonQuality::Accurate, 40}};
  for (const auto& m : mattes) {
    Requests r;
    r.personSegmentation = true;
    r.personQuality = m.quality;
    const double ms = warmMedianMs(runs, [&] { perform(r); });
    std::printf("  %-52s %7.1f ms  (target %.0f ms: %s)\n", m.name, ms, m.target, ms < m.target ? "met" : "missed");
  }
  Requests r;
  r.foregroundInstances = true;
  const double ms = warmMedianMs(std::max(3, runs / 3), [&] { perform(r); });
  std::printf("  %-52s %7.1f ms  (target 250 ms: %s)\n", "instance map (ISNet 256 + split mattes)", ms,
              ms < 250 ? "met" : "missed");
  auto handler = service().handler(picture, 1);
  Results results;
  std::string error;
  handler->perform(r, results, error);
  const double maskMs = warmMedianMs(runs, [&] {
    Matte mask;
    handler->scaledInstanceMask(results.instances.at(0), results.instances.at(0).allInstances, mask, error);
  });
  std::printf("  %-52s %7.1f ms\n", "scaled mask of all instances to 1280x720", maskMs);
  return 0;
}
