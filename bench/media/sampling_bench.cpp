// Decode-and-sample throughput of the video analysis without vision work,
// beside FFmpeg's own decode-only run on the same file.
//   sampling_bench [clip.mp4]   (without a clip, a 1080p30 H.264 clip of 20 s is made)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/media/video_source.h"
#include "probe/analysis/sampling.h"
#include "probe/analysis/thumbnail.h"

using Clock = std::chrono::steady_clock;

static double seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

int main(int argc, char** argv) {
  std::string clip = argc > 1 ? argv[1] : "/tmp/kestrel-bench-1080p30.mp4";
  if (argc <= 1) {
    std::string make = "test -f " + clip +
                       " || ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30 "
                       "-t 20 -c:v libx264 -pix_fmt yuv420p " + clip;
    if (std::system(make.c_str()) != 0) return 1;
  }

  auto t0 = Clock::now();
  std::string ffmpeg = "ffmpeg -nostdin -v error -i " + clip + " -f null -";
  if (std::system(ffmpeg.c_str()) != 0) return 1;
  const double ffmpegTime = seconds(t0);

  t0 = Clock::now();
  auto opened = kestrel::media::openVideo(clip);
  if (!opened.source) return 1;
  kestrel::media::FrameConverter converter;
  kestrel::Sampler sampler(5);
  int64_t decoded = 0, picked = 0, sum = 0;
  while (opened.source->next()) {
    ++decoded;
    auto p = opened.source->time();
    if (!sampler.due(p)) continue;
    auto picture = converter.bgra(opened.source->frame());
    if (!picture.data) continue;
    sampler.picked(p);
    sum += kestrel::thumbnail(picture)[0];
    ++picked;
  }
  const double probeTime = seconds(t0);
  std::printf("clip %s: %lld frames decoded, %lld picked at 5 Hz\n", clip.c_str(),
              static_cast<long long>(decoded), static_cast<long long>(picked));
  std::printf("ffmpeg -f null: %.3f s\nprobe sampling: %.3f s\nratio: %.2f (target at most 1.10)\n",
              ffmpegTime, probeTime, probeTime / ffmpegTime);
  return sum < 0;
}
