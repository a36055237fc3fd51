// Video analysis against the clock: kestrel-probe's wall time over the clip's
// length at 5 and 10 Hz (with libgomp's threads spinning, its default, and
// passive), a picked frame's time split by stage, and decoding with sampling
// alone beside FFmpeg's own decode-only run.
//   analysis_bench [clip] [frames]
// Without a clip, a 10 s 1080p30 H.264 street clip is made from opencv-doc's
// vtest.avi. `frames` picked frames are split by stage (default 20).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "bench/support/stage_split.h"
#include "platform/media/video_source.h"
#include "platform/vision/dnn/stage_times.h"
#include "platform/vision/vision.h"
#include "probe/analysis/frame_loop.h"
#include "probe/analysis/frame_record.h"
#include "probe/analysis/sampling.h"
#include "probe/analysis/thumbnail.h"

using Clock = std::chrono::steady_clock;
using namespace kestrel;

namespace {

double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

double timed(const std::string& command) {
  const auto t0 = Clock::now();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
  return since(t0);
}

double clipSeconds(const std::string& clip) {
  auto opened = media::openVideo(clip);
  if (!opened.source) return 0;
  double last = 0;
  while (opened.source->next()) {
    const media::MediaTime t = opened.source->time();
    if (t.valid) last = static_cast<double>(t.value) / t.timescale;
  }
  return last + 1.0 / 30;  // the last frame's own length, near enough
}

// The whole program on the clip at hz, wall time over the clip's length.
void wholeRuns(const std::string& clip, double length) {
  std::printf("\nkestrel-probe, wall time / clip length (%.2f s):\n", length);
  struct Run {
    const char* what;
    const char* env;
    int hz;
    double target;
  };
  const Run runs[] = {{"hz 5", "", 5, 0.67},
                      {"hz 10", "", 10, 1.0},
                      {"hz 5, OMP_WAIT_POLICY=passive", "OMP_WAIT_POLICY=passive ", 5, 0.67},
                      {"hz 10, OMP_WAIT_POLICY=passive", "OMP_WAIT_POLICY=passive ", 10, 1.0}};
  for (const Run& r : runs) {
    const double s = timed(std::string(r.env) + KESTREL_PROBE " '" + clip + "' " + std::to_string(r.hz) + " > /dev/null");
    std::printf("  %-34s %7.2f s  ratio %5.2f  (target at most %.2f)\n", r.what, s, s / length, r.target);
  }
}

// Picked frames one after another on this thread, each stage timed.
void stageSplit(const std::string& clip, int frames) {
  auto opened = media::openVideo(clip);
  if (!opened.source) return;
  media::VideoSource& source = *opened.source;
  media::FrameConverter converter;
  Sampler sampler(5);
  double decode = 0, thumb = 0, models = 0;
  int picked = 0;
  bool warm = false;  // the first frame loads and compiles the models: not counted
  auto before = vision::dnn::stageTimes();
  auto t0 = Clock::now();
  while (picked < frames && source.next()) {
    const media::MediaTime p = source.time();
    if (!sampler.due(p)) continue;
    media::VideoFrame frame = source.frame();
    if (frame.empty()) continue;
    sampler.picked(p);
    decode += since(t0);
    t0 = Clock::now();
    const auto rows = thumbnail(converter.bgraRows(frame, thumbnailRows(frame.height())));
    thumb += since(t0);
    t0 = Clock::now();
    auto pixels = converter.pixelSource(frame);
    auto handler = vision::service().handler(*pixels, 1);
    vision::Results results;
    std::string error;
    if (!handler->perform(frameRequests(), results, error)) std::fprintf(stderr, "vision: %s\n", error.c_str());
    models += since(t0);
    ++picked;
    if (!warm) {
      warm = true;
      decode = thumb = models = 0;
      picked = 0;
      before = vision::dnn::stageTimes();
    }
    t0 = Clock::now();
  }
  if (picked == 0) return;
  const auto stages = bench::stagesSince(before);
  auto ms = [&](double s) { return s * 1000 / picked; };
  std::printf("\none picked frame at hz 5, mean of %d, stages one after another (ms):\n", picked);
  std::printf("  %-34s %8.1f  (the picked frame and the skipped ones before it)\n", "decode", ms(decode));
  std::printf("  %-34s %8.1f\n", "convert: thumbnail rows", ms(thumb));
  double known = 0;
  for (const auto& [name, t] : stages) {
    if (t.calls == 0) continue;
    std::printf("  %-34s %8.1f  (%.1f runs)\n", name.c_str(), ms(t.seconds), static_cast<double>(t.calls) / picked);
    known += t.seconds;
  }
  std::printf("  %-34s %8.1f  (model inputs and outputs, decoding, geometry)\n", "post-processing and the rest",
              ms(models - known));
  std::printf("  %-34s %8.1f\n", "total", ms(decode + thumb + models));
}

// Decoding and sampling through the analysis' own loop, thumbnails only.
void decodeAlone(const std::string& clip) {
  const double ffmpeg = timed("ffmpeg -nostdin -v error -i '" + clip + "' -f null -");
  auto opened = media::openVideo(clip);
  if (!opened.source) return;
  media::FrameConverter converter;
  const auto t0 = Clock::now();
  int64_t sum = 0;
  const int64_t n = sampleFrames(*opened.source, 5, [&](const media::VideoFrame& f, const media::MediaTime&) {
    const auto t = thumbnail(converter.bgraRows(f, thumbnailRows(f.height())));
    sum += t.empty() ? 0 : t[0];
  });
  const double probe = since(t0);
  std::printf("\ndecode and sample at hz 5 (%lld frames picked): %.2f s; ffmpeg -f null: %.2f s; ratio %.2f "
              "(target at most 1.10)\n",
              static_cast<long long>(n), probe, ffmpeg, probe / ffmpeg);
}

}  // namespace

int main(int argc, char** argv) {
  std::string clip = argc > 1 ? argv[1] : "/tmp/kestrel-bench-street-1080p30.mp4";
  const int frames = argc > 2 ? std::atoi(argv[2]) : 20;
  if (argc <= 1) {
    const std::string make = "test -f " + clip +
                             " || ffmpeg -nostdin -v error -y -i /usr/share/doc/opencv-doc/examples/data/vtest.avi "
                             "-t 10 -vf scale=1920:1080,fps=30 -c:v libx264 -pix_fmt yuv420p " + clip;
    if (std::system(make.c_str()) != 0) return 1;
  }
  const double length = clipSeconds(clip);
  std::printf("clip %s\n", clip.c_str());
  stageSplit(clip, frames);
  decodeAlone(clip);
  wholeRuns(clip, length);
  return 0;
}
