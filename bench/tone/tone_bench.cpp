// kestrel-tone beside FFmpeg on the same files in the same run:
//   "frame" at 60 s of a 1080p30 H.264 clip with a key frame every 2 s, beside
//   ffmpeg -ss 60 extracting the same frame as raw RGB;
//   "lut" for N = 33, P = 16, beside decoding the same grid video alone;
//   "frame" at 3 s of a 1080p PQ HEVC clip, beside ffmpeg -ss 3 rendering the
//   same frame with zscale and its tonemap filter (mobius) to raw RGB.
//   tone_bench [runs]   (the videos are made once under /tmp)
// Each figure is the median wall time of the runs, processes started alike.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/support/median.h"
#include "platform/media/video_source.h"

using kestrel::bench::Clock;
using kestrel::bench::median;

namespace {

double timed(const std::string& command) {
  const auto t0 = Clock::now();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Median times of two commands, run alternately so that load falls on both alike.
std::pair<double, double> compare(const std::string& ours, const std::string& theirs, int runs) {
  std::vector<double> a, b;
  for (int i = 0; i < runs; ++i) {
    a.push_back(timed(ours));
    b.push_back(timed(theirs));
  }
  return {median(a), median(b)};
}

void make(const std::string& path, const std::string& args) {
  const std::string command = "test -f " + path + " || ffmpeg -nostdin -v error -y " + args + " " + path;
  if (std::system(command.c_str()) != 0) std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::string tone = KESTREL_TONE;
  const std::string clip = "/tmp/kestrel-bench-tone-1080p-gop2.mp4";
  const std::string grid = "/tmp/kestrel-bench-tone-grid33.mp4";
  make(clip, "-f lavfi -i testsrc2=size=1920x1080:rate=30 -t 64 -c:v libx264 -preset veryfast "
             "-g 60 -keyint_min 60 -sc_threshold 0 -pix_fmt yuv420p");
  // 33 frames of 33 x 33 patches of 16 pixels: 528 x 528.
  make(grid, "-f lavfi -i testsrc2=size=528x528:rate=30 -frames:v 33 -c:v libx264 -crf 8 "
             "-pix_fmt yuv420p");

  const std::string hdr = "/tmp/kestrel-bench-tone-1080p-pq.mkv";
  make(hdr,
       "-f lavfi -i testsrc2=size=1920x1080:rate=30 -t 4 -vf format=rgb24,zscale=tin=bt709:"
       "pin=bt709:min=gbr:rin=pc:npl=203:t=smpte2084:p=bt2020:m=bt2020nc:r=tv,"
       "format=yuv420p10le "
       "-c:v libx265 -preset ultrafast -x265-params log-level=error:keyint=60 "
       "-color_trc smpte2084 -color_primaries bt2020 -colorspace bt2020nc");

  auto [frame, ffmpegFrame] =
      compare(tone + " frame " + clip + " 60 /tmp/kestrel-bench-tone.rgb >/dev/null",
              "ffmpeg -nostdin -v error -y -ss 60 -i " + clip +
                  " -frames:v 1 -f rawvideo -pix_fmt rgb24 /tmp/kestrel-bench-ffmpeg.rgb",
              runs);
  std::printf("frame at 60 s, 1080p H.264, key frame every 2 s (median of %d)\n", runs);
  std::printf("  kestrel-tone frame: %.3f s\n  ffmpeg -ss 60:      %.3f s\n  ratio: %.2f (target at most 1.30)\n",
              frame, ffmpegFrame, frame / ffmpegFrame);

  auto [lut, decode] = compare(tone + " lut " + grid + " 33 16 /tmp/kestrel-bench-tone.cube",
                               "ffmpeg -nostdin -v error -i " + grid + " -f null -", runs);
  // Decoding alone in-process, for scale: what the LUT builder adds beyond it.
  const auto t0 = Clock::now();
  auto opened = kestrel::media::openVideo(grid);
  int frames = 0;
  if (opened.source)
    while (opened.source->next()) ++frames;
  const double inProcess = std::chrono::duration<double>(Clock::now() - t0).count();
  std::printf("lut N=33 P=16, 528 x 528 H.264 (median of %d)\n", runs);
  std::printf("  kestrel-tone lut:      %.3f s\n  ffmpeg decode alone:   %.3f s\n"
              "  ratio: %.2f (target at most 1.30)\n  in-process decode of %d frames: %.3f s\n",
              lut, decode, lut / decode, frames, inProcess);

  auto [hdrFrame, ffmpegHdr] =
      compare(tone + " frame " + hdr + " 3 /tmp/kestrel-bench-tone.rgb >/dev/null",
              "ffmpeg -nostdin -v error -y -ss 3 -i " + hdr +
                  " -frames:v 1 -vf zscale=t=linear:npl=203,format=gbrpf32le,zscale=p=bt709,"
                  "tonemap=mobius:peak=4.93,zscale=t=bt709:m=gbr:r=pc,format=rgb24"
                  " -f rawvideo /tmp/kestrel-bench-ffmpeg.rgb",
              runs);
  std::printf("frame at 3 s, 1080p PQ HEVC (median of %d)\n", runs);
  std::printf(
      "  kestrel-tone frame:           %.3f s\n  ffmpeg -ss 3 zscale+tonemap: %.3f s\n"
      "  ratio: %.2f\n",
      hdrFrame, ffmpegHdr, hdrFrame / ffmpegHdr);
  return 0;
}
