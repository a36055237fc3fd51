// Frames per second of the cutout and person streams, in-process, with the
// time of one frame split by stage.
//   bench_cutout [frames]   (default 5 per measurement; median reported)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "probe/cutout/cutout_frame.h"
#include "probe/cutout/matte_render.h"
#include "probe/cutout/person_gate.h"

using namespace kestrel;
using Clock = std::chrono::steady_clock;

namespace {

double medianMs(int runs, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    auto t0 = Clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// The astronaut photo scaled to the frame's height and centred, as BGRA.
std::vector<uint8_t> frameOf(int width, int height, int64_t stride) {
  cv::Mat photo = cv::imread("/usr/lib/python3/dist-packages/skimage/data/astronaut.png");
  if (photo.empty()) std::exit(1);
  cv::Mat scaled, bgra(height, width, CV_8UC4, cv::Scalar(0, 0, 0, 255));
  const int side = std::min(width, height);
  cv::resize(photo, scaled, cv::Size(side, side), 0, 0, cv::INTER_AREA);
  cv::cvtColor(scaled, scaled, cv::COLOR_BGR2BGRA);
  scaled.copyTo(bgra(cv::Rect((width - side) / 2, 0, side, side)));
  std::vector<uint8_t> bytes(static_cast<size_t>(stride * height));
  for (int y = 0; y < height; ++y)
    std::copy(bgra.ptr<uint8_t>(y), bgra.ptr<uint8_t>(y) + 4 * width, bytes.data() + y * stride);
  return bytes;
}

void measure(int width, int height, int runs) {
  vision::Service& service = vision::service();
  CutoutStream s = makeCutoutStream(width, height, true);
  s.frame = frameOf(width, height, s.stride);
  const Picture picture{s.frame.data(), width, height, s.stride};
  std::printf("%dx%d\n", width, height);

  cutoutAnalyse(s, service);  // models loaded once, outside the figures
  const double whole = medianMs(runs, [&] { cutoutAnalyse(s, service); });

  auto request = [&](auto set) {
    vision::Requests r;
    set(r);
    vision::Results results;
    return medianMs(runs, [&] {
      std::string error;
      service.handler(picture, 1)->perform(r, results, error);
    });
  };
  const double instances = request([](vision::Requests& r) { r.foregroundInstances = true; });
  const double faces = request([](vision::Requests& r) { r.faceRectangles = true; });
  const double person = request([](vision::Requests& r) { r.personSegmentation = true; });
  const double hands = request([](vision::Requests& r) { r.handPose = true; });

  vision::Requests all;
  all.foregroundInstances = all.faceRectangles = all.personSegmentation = true;
  vision::Results results;
  std::string error;
  service.handler(picture, 1)->perform(all, results, error);
  double gate = 0;
  if (!results.persons.empty()) {
    gate = medianMs(runs, [&] {
      personGate(width, height, s.mask.data(), s.instanceMask.data(), s.personWide.data(),
                 s.personMask.data(), s.componentIds.data(), results.persons.front(), 12.0, height / 2);
    });
  }
  std::printf("  --cutout: %.1f ms a frame, %.2f fps\n", whole, 1000.0 / whole);
  std::printf("    instances %.1f ms, faces %.1f ms, person (accurate) %.1f ms, gate %.2f ms\n",
              instances, faces, person, gate);
  std::printf("    hands (run only by the held step) %.1f ms\n", hands);
  std::printf("    outside the three models: %.1f ms (%.0f%% of the frame)\n",
              whole - instances - faces - person, 100.0 * (whole - instances - faces - person) / whole);

  for (auto [word, quality] : {std::pair{"fast", vision::PersonQuality::Fast},
                               std::pair{"balanced", vision::PersonQuality::Balanced},
                               std::pair{"accurate", vision::PersonQuality::Accurate}}) {
    vision::Requests r;
    r.personSegmentation = true;
    r.personQuality = quality;
    const double ms = medianMs(runs, [&] {
      vision::Results out;
      std::string e;
      service.handler(picture, 1)->perform(r, out, e);
      if (!out.persons.empty()) renderMatte(out.persons.front(), width, height, s.mask.data());
    });
    std::printf("  --person %s: %.1f ms a frame, %.1f fps\n", word, ms, 1000.0 / ms);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  measure(640, 360, runs);
  measure(1280, 720, runs);
  return 0;
}
