// Frames per second of the cutout and person streams, in-process, with the
// time of one frame split by stage, ISNet at each side installed, and the
// delay from a process's start to its first frame's output.
//   cutout_bench [frames] [person [stream frames]]
// (default 5 frames per measurement, median reported; "person" gives the
// person levels' rates alone, over streams of 100 frames unless told)
// Let nothing else run: the figures are meant for a quiet machine. Debian's
// oneDNN spins its OpenMP threads after each run; compare OMP_WAIT_POLICY=passive.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench/support/median.h"
#include "bench/support/stage_split.h"
#include "platform/vision/dnn/instances.h"
#include "platform/vision/dnn/model_files.h"
#include "platform/vision/dnn/rvm.h"
#include "platform/vision/dnn/slow_analyses.h"
#include "platform/imaging/imaging.h"
#include "probe/cutout/cutout_frame.h"

using namespace kestrel;
using namespace kestrel::bench;

namespace {

// The astronaut photo scaled to the frame's height and centred, as BGRA rows
// `stride` bytes apart.
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

// The real service with the time of its calls added up: the frame's requests,
// the held step's hand requests and the scaled masks.
struct Stages {
  double requests = 0, hands = 0, scaled = 0;
  int handRuns = 0;
};

class TimedHandler final : public vision::Handler {
 public:
  TimedHandler(std::unique_ptr<vision::Handler> real, Stages& stages) : real_(std::move(real)), stages_(stages) {}
  bool perform(const vision::Requests& r, vision::Results& out, std::string& error) override {
    const auto t0 = Clock::now();
    const bool ok = real_->perform(r, out, error);
    (r.handPose ? stages_.hands : stages_.requests) += msSince(t0);
    stages_.handRuns += r.handPose;
    return ok;
  }
  bool scaledInstanceMask(const vision::InstanceObservation& o, const std::vector<uint8_t>& chosen,
                          vision::Matte& mask, std::string& error) override {
    const auto t0 = Clock::now();
    const bool ok = real_->scaledInstanceMask(o, chosen, mask, error);
    stages_.scaled += msSince(t0);
    return ok;
  }

 private:
  std::unique_ptr<vision::Handler> real_;
  Stages& stages_;
};

class TimedService final : public vision::Service {
 public:
  Stages stages;
  std::string description() const override { return vision::service().description(); }
  std::unique_ptr<vision::Handler> handler(const Picture& picture, uint32_t orientation) override {
    return std::make_unique<TimedHandler>(vision::service().handler(picture, orientation), stages);
  }
  std::unique_ptr<vision::Handler> handler(PixelSource& pixels, uint32_t orientation) override {
    return std::make_unique<TimedHandler>(vision::service().handler(pixels, orientation), stages);
  }
};

// One network's run alone, on the inputs its last real run left.
double modelMs(const std::string& name, int runs) {
  vision::engine::Network& net = vision::dnn::loadModel(name, {});
  return medianMs(runs, [&] { net.run(); });
}

const char* arithmetic(const std::string& name) {
  return vision::dnn::loadModel(name, {}).int8() ? "int8" : "float";
}

void cutout(int width, int height, int runs) {
  TimedService timed;
  CutoutStream s = makeCutoutStream(width, height, true);
  s.frame = frameOf(width, height, s.stride);
  const Picture picture{s.frame.data(), width, height, s.stride};
  std::printf("--cutout %dx%d\n", width, height);

  // Models loaded outside the figures: a stream's first frames do not wait
  // for ISNet, so its load is waited for here, then a round of frames makes
  // every kept analysis.
  cv::Mat bgr;
  cv::cvtColor(cv::Mat(height, width, CV_8UC4, s.frame.data(), static_cast<size_t>(s.stride)), bgr,
               cv::COLOR_BGRA2BGR);
  // One frame of the stream, as its step begins it.
  const auto frame = [&] {
    s.session.beginFrame();
    cutoutAnalyse(s, timed);
  };
  frame();
  vision::dnn::salientMap(bgr, vision::dnn::instanceSide());
  for (int i = 0; i < vision::dnn::kSalientMaxAgeNoHands; ++i) frame();
  timed.stages = {};
  const auto before = vision::dnn::stageTimes();
  // On a still picture ISNet's map and the person boxes are made anew as
  // they age (the map sooner while hands are followed): whole rounds of
  // both, their mean and their slowest frame.
  constexpr int kRound = vision::dnn::kSalientMaxAgeNoHands;
  static_assert(kRound % vision::dnn::kPeopleMaxAge == 0 && kRound % vision::dnn::kSalientMaxAge == 0);
  const int frameCount = (std::max(runs, kRound) + kRound - 1) / kRound * kRound;
  std::vector<double> frames;
  for (int i = 0; i < frameCount; ++i) {
    const auto t0 = Clock::now();
    frame();
    frames.push_back(msSince(t0));
  }
  double whole = 0;
  for (double f : frames) whole += f;
  whole /= frameCount;
  const double slowest = *std::max_element(frames.begin(), frames.end());
  const Stages st = timed.stages;
  const double per = 1.0 / frameCount;
  std::printf("  %.1f ms a frame, %.2f fps (mean of %d frames; slowest %.1f ms)\n", whole, 1000.0 / whole,
              frameCount, slowest);
  std::printf("  stages, mean: vision requests %.1f ms, scaled masks %.1f ms, held step hands %.1f ms "
              "(in %d of %d frames), the cutout's own pixel work %.1f ms\n",
              st.requests * per, st.scaled * per, st.hands * per, st.handRuns, frameCount,
              whole - (st.requests + st.scaled + st.hands) * per);
  std::printf("  in these frames, by stage (ms a frame, runs a frame):");
  double known = 0, salientRuns = 0;
  for (const auto& [name, t] : stagesSince(before)) {
    if (name == "model isnet") salientRuns = static_cast<double>(t.calls) * per;
    if (t.calls == 0) continue;
    std::printf(" %s %.1f (%.2f),", name.c_str(), t.seconds * 1000 * per, static_cast<double>(t.calls) * per);
    known += t.seconds * 1000 * per;
  }
  std::printf(" the rest %.1f\n", whole - known);

  // The requests by model: each network alone, and the faces request whole.
  const int side = vision::dnn::instanceSide();
  const std::string isnet = "isnet_" + std::to_string(side) + ".onnx";
  const std::string matte = vision::dnn::instancesMatteModel().file;
  const double rvm = modelMs(matte, runs), salient = modelMs(isnet, runs);
  const double boxes = modelMs("centernet.onnx", runs);
  vision::Requests faceOnly;
  faceOnly.faceRectangles = true;
  const double faces = medianMs(runs, [&] {
    vision::Results out;
    std::string e;
    vision::service().handler(picture, 1)->perform(faceOnly, out, e);
  });
  // On a still picture the boxes run in one frame of kPeopleMaxAge, ISNet as often as it did above.
  const double models = rvm + salient * salientRuns + boxes / vision::dnn::kPeopleMaxAge + faces + st.hands * per;
  std::printf("  models: RVM %.1f ms (%s), ISNet-%d %.1f ms (%s), CenterNet (person boxes) %.1f ms (%s), "
              "faces request %.1f ms\n",
              rvm, arithmetic(matte), side, salient, arithmetic(isnet), boxes,
              arithmetic("centernet.onnx"), faces);
  std::printf("  outside the models: about %.1f ms (%.0f%% of the frame)\n", whole - models,
              100.0 * (whole - models) / whole);

  // ISNet at every side installed, and the frame rate it would give.
  for (int other : {256, 320, 384}) {
    try {
      vision::dnn::salientMap(bgr, other);
      const double ms = modelMs("isnet_" + std::to_string(other) + ".onnx", runs);
      const double frame = whole + (ms - salient) * salientRuns;
      std::printf("  ISNet-%d (%s): %.1f ms; a frame with it about %.1f ms, %.1f fps\n", other,
                  arithmetic("isnet_" + std::to_string(other) + ".onnx"), ms, frame, 1000.0 / frame);
    } catch (const std::exception&) {
      std::printf("  ISNet-%d: not installed (models/recipes/instances.sh)\n", other);
    }
  }
}

// The CPU's name, for the rates printed beside it.
std::string cpuName() {
  std::ifstream info("/proc/cpuinfo");
  for (std::string line; std::getline(info, line);)
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  return "unknown CPU";
}

// --person's levels in one stream each, in the same run: frames per second
// over frames 21 to `frames` (the state settled, the models loaded), and each
// cheaper level's rate against the accurate one's.
void person(int width, int height, int frames) {
  std::vector<uint8_t> frame = frameOf(width, height, 4 * width);
  std::vector<uint8_t> mask(static_cast<size_t>(width) * static_cast<size_t>(height));
  const Picture picture{frame.data(), width, height, 4 * width};
  constexpr int kSettled = 20;
  const struct {
    const char* word;
    vision::PersonQuality quality;
  } levels[] = {{"accurate", vision::PersonQuality::Accurate},
                {"balanced", vision::PersonQuality::Balanced},
                {"fast", vision::PersonQuality::Fast}};
  std::printf("--person %dx%d, frames %d to %d of one stream, %s, %u threads\n", width, height, kSettled + 1,
              std::max(frames, kSettled + 1), cpuName().c_str(), std::thread::hardware_concurrency());
  double accurateFps = 0;
  for (const auto& level : levels) {
    vision::StreamSession session;
    vision::Requests r;
    r.personSegmentation = true;
    r.personQuality = level.quality;
    r.session = &session;
    auto frameWork = [&] {
      vision::Results out;
      std::string e;
      vision::service().handler(picture, 1)->perform(r, out, e);
      if (!out.persons.empty()) imaging::scaleMatte(vision::view(out.persons.front()), greyPlane(mask.data(), width, height));
    };
    for (int i = 0; i < kSettled; ++i) frameWork();
    const int timed = std::max(1, frames - kSettled);
    const auto before = vision::dnn::stageTimes();
    const auto t0 = Clock::now();
    for (int i = 0; i < timed; ++i) frameWork();
    const double fps = 1000.0 * timed / msSince(t0);
    if (level.quality == vision::PersonQuality::Accurate) accurateFps = fps;
    const std::string file = vision::dnn::videoMatteModel(level.quality).file;
    std::printf("  %-8s %6.1f fps (%5.1f ms a frame), %.2fx accurate's rate  [%s, %s]; by stage (mean ms a frame):",
                level.word, fps, 1000.0 / fps, fps / accurateFps, file.c_str(), arithmetic(file));
    for (const auto& [name, t] : stagesSince(before))
      if (t.calls > 0) std::printf(" %s %.1f", name.c_str(), t.seconds * 1000 / timed);
    std::printf("\n");
  }
}

// From the start of `kestrel-probe --cutout` to the last byte of its first
// frame's output, the frame written at once.
void firstFrame(int width, int height) {
  const std::vector<uint8_t> frame = frameOf(width, height, 4 * width);
  const size_t expected = 32 + static_cast<size_t>(width) * static_cast<size_t>(height);
  int in[2], out[2];
  if (pipe(in) || pipe(out)) return;
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
    const std::string w = std::to_string(width), h = std::to_string(height);
    execl(KESTREL_PROBE, KESTREL_PROBE, "--cutout", w.c_str(), h.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  bool written = write(in[1], frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
  std::vector<uint8_t> got(expected);
  size_t have = 0;
  for (ssize_t n = 1; written && have < expected && n > 0; have += static_cast<size_t>(std::max<ssize_t>(n, 0)))
    n = read(out[0], got.data() + have, expected - have);
  const double ms = msSince(t0);
  close(in[1]);
  close(out[0]);
  waitpid(pid, nullptr, 0);
  if (have == expected)
    std::printf("--cutout %dx%d: first frame's output %.0f ms after the start\n", width, height, ms);
  else
    std::printf("--cutout %dx%d: no first frame (is kestrel-probe built?)\n", width, height);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const bool personOnly = argc > 2 && std::string(argv[2]) == "person";
  if (!personOnly) {
    firstFrame(640, 360);
    cutout(640, 360, runs);
    cutout(1280, 720, runs);
  }
  person(640, 360, argc > 3 ? std::max(21, std::atoi(argv[3])) : 100);
  return 0;
}
