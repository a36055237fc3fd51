// Per-model forward times of the object and hand models, their modules on a
// 1080p frame, the six requests of the video analysis on that frame, and a
// 1080p30 clip analysed at 5 Hz by kestrel-probe.
//   objects_bench [runs]   (default 10 runs per figure, after one warm-up)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench/support/median.h"
#include "platform/vision/dnn/bgra_pixels.h"
#include "platform/vision/dnn/model_files.h"
#include "platform/vision/dnn/model_image.h"
#include "platform/vision/dnn/hands.h"
#include "platform/vision/dnn/objects.h"
#include "platform/vision/vision.h"

using Clock = std::chrono::steady_clock;
using namespace kestrel;

namespace {

double seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Median wall milliseconds of `runs` calls after one warm-up call, and the
// mean CPU milliseconds per call: on a machine shared with other work the
// CPU figure shows the cost, the wall figure what this machine gave.
struct Timing {
  double wallMs = 0, cpuMs = 0;
};

Timing measure(int runs, const std::function<void()>& work) {
  work();
  std::vector<double> ms;
  const double cpu0 = cpuSeconds();
  for (int i = 0; i < runs; ++i) {
    auto t0 = Clock::now();
    work();
    ms.push_back(seconds(t0) * 1000);
  }
  const double cpu = (cpuSeconds() - cpu0) * 1000 / runs;
  return {bench::median(ms), cpu};
}

void report(const char* what, const Timing& t, const char* target = "") {
  std::printf("%-48s %7.1f ms wall %7.1f ms CPU %s\n", what, t.wallMs, t.cpuMs, target);
}

Timing forward(int runs, const char* model) {
  auto net = vision::engine::Network::load(vision::dnn::modelPath(model), model);
  cv::Mat blob(1, static_cast<int>(vision::engine::elementCount(net->inputDims(0))), CV_32F, net->input());
  cv::randu(blob, 0, 1);
  return measure(runs, [&] { net->run(); });
}

// A 1920x1080 BGR frame: the open hand twice (once mirrored) over a street
// scene with a person, a dog and a horse.
cv::Mat frame1080() {
  cv::Mat frame(1080, 1920, CV_8UC3, cv::Scalar(90, 110, 120));
  cv::Mat scene = cv::imread("/usr/share/darknet/data/person.jpg");
  cv::Mat hand = cv::imread("/usr/share/doc/opencv-doc/opencv4/html/handSrc.jpg");
  if (scene.empty() || hand.empty()) return {};
  cv::resize(scene, frame(cv::Rect(0, 0, 1920, 1080)), cv::Size(1920, 1080));
  cv::Mat small, mirrored;
  cv::resize(hand, small, cv::Size(560, 420));
  cv::flip(small, mirrored, 1);
  small.copyTo(frame(cv::Rect(40, 620, 560, 420)));
  mirrored.copyTo(frame(cv::Rect(1320, 620, 560, 420)));
  return frame;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  cv::Mat bgr = frame1080();
  if (bgr.empty()) {
    std::fprintf(stderr, "objects_bench: the Debian photos are missing\n");
    return 1;
  }
  std::printf("OpenCV threads: %d, %d runs per figure (median)\n", cv::getNumThreads(), runs);
  try {
    report("forward centernet.onnx 1x3x512x512",
           forward(runs, "centernet.onnx"));
    report("forward palm_detection_full.onnx 1x3x192x192",
           forward(runs, "palm_detection_full.onnx"));
    report("forward hand_landmark_full.onnx 1x3x224x224",
           forward(runs, "hand_landmark_full.onnx"));

    size_t hands = 0;
    vision::dnn::Objects objects;
    cv::Mat bgraFrame;
    cv::cvtColor(bgr, bgraFrame, cv::COLOR_BGR2BGRA);
    vision::dnn::BgraPixels pixels(Picture{bgraFrame.data, bgraFrame.cols, bgraFrame.rows,
                                           static_cast<int64_t>(bgraFrame.step)});
    report("detector pass, 1080p (people, animals, labels)",
           measure(runs, [&] {
             vision::dnn::ModelImage image(pixels, 1);
             objects = vision::dnn::detectObjects(image);
           }), "(target 150)");
    report("hands, 1080p", measure(runs, [&] {
             vision::dnn::ModelImage image(pixels, 1);
             hands = vision::dnn::detectHands(image, 2, nullptr).size();
           }),
           "(target 120 for two)");
    std::printf("  found %zu hands, %zu people, %zu animals\n", hands, objects.people.size(),
                objects.animals.size());

    cv::Mat bgra;
    cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
    Picture picture{bgra.data, bgra.cols, bgra.rows, static_cast<int64_t>(bgra.step)};
    vision::Requests six;
    six.faceRectangles = six.faceLandmarks = six.humanRectangles = six.animals = six.handPose =
        six.classify = true;
    bool ok = true;
    report("six requests, 1080p, one handler", measure(runs, [&] {
             vision::Results results;
             std::string error;
             ok = vision::service().handler(picture, 1)->perform(six, results, error) && ok;
           }), "(target 350)");
    if (!ok) std::printf("  (a request failed)\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "objects_bench: %s\n", e.what());
    return 1;
  }

  // The whole program on a 1080p30 clip of the frame, analysed at 5 Hz.
  const std::string still = "/tmp/kestrel-bench-objects.png", clip = "/tmp/kestrel-bench-objects-1080p30.mp4";
  cv::imwrite(still, bgr);
  const double clipSeconds = 6;
  const std::string make = "ffmpeg -nostdin -v error -y -loop 1 -i " + still +
                           " -vf \"crop=1920:1080:mod(n*4\\,64):0,pad=1984:1080,scale=1920:1080\" -r 30 -t " +
                           std::to_string(clipSeconds) + " -c:v libx264 -pix_fmt yuv420p " + clip;
  if (std::system(make.c_str()) != 0) return 1;
  const std::string probe = std::string(KESTREL_PROBE) + " " + clip + " 5 > /dev/null";
  rusage before{}, after{};
  getrusage(RUSAGE_CHILDREN, &before);
  auto t0 = Clock::now();
  if (std::system(probe.c_str()) != 0) return 1;
  const double wall = seconds(t0);
  getrusage(RUSAGE_CHILDREN, &after);
  const double cpu = (after.ru_utime.tv_sec - before.ru_utime.tv_sec) +
                     (after.ru_utime.tv_usec - before.ru_utime.tv_usec) / 1e6 +
                     (after.ru_stime.tv_sec - before.ru_stime.tv_sec) +
                     (after.ru_stime.tv_usec - before.ru_stime.tv_usec) / 1e6;
  std::printf("kestrel-probe, %.0f s 1080p30 clip at 5 Hz: %.1f s wall (%.2fx real time, target 0.5x), "
              "%.1f s CPU\n", clipSeconds, wall, clipSeconds / wall, cpu);
  std::remove(still.c_str());
  std::remove(clip.c_str());
  return 0;
}
