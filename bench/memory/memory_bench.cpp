// Soak: long runs of kestrel-probe on a real clip (OpenCV's vtest.avi, people
// walking, from Debian's opencv-doc), with its resident memory and its count
// of open file descriptors sampled every 100 frames:
//   --cutout and --person, each given N frames piped straight from the ffmpeg
//   CLI (the clip looped and scaled), as a host application would;
//   the video analysis of the clip looped to S seconds, at 5 Hz.
// Growth is the highest resident memory after the warm-up (the first tenth of
// the frames, at least 100) over the memory at its end; the target is at most
// 5 %, with the descriptor count constant.
// Usage: memory_bench [frames (default 5000)] [analysis seconds (default 600)]
//                     [frame width height (default 384 288)]
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "bench/support/child_process.h"

using namespace kestrel::bench;

namespace {

const char* kClip = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";
constexpr long EVERY = 100;

struct Sample {
  long frame;
  long rssKb;
  long fds;
};

long rssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

long openFds(pid_t pid) {
  std::error_code error;
  long n = 0;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
       !error && it != end; it.increment(error))
    ++n;
  return error ? -1 : n;
}

// A sample of the running child; nothing once it is ending (its descriptors
// are closed and its memory going).
std::optional<Sample> sample(pid_t pid, long frame) {
  const Sample s{frame, rssKb(pid), openFds(pid)};
  if (s.rssKb <= 0 || s.fds <= 0) return std::nullopt;
  return s;
}

void report(const std::string& what, const std::vector<Sample>& samples, long frames, double seconds) {
  if (samples.empty()) {
    std::printf("%s: no samples (%ld frames)\n", what.c_str(), frames);
    return;
  }
  const long warmUp = std::max(EVERY, frames / 10 / EVERY * EVERY);
  auto base = std::find_if(samples.begin(), samples.end(), [&](const Sample& s) { return s.frame >= warmUp; });
  if (base == samples.end()) base = samples.begin();
  long highest = base->rssKb, fdLow = base->fds, fdHigh = base->fds;
  for (auto s = base; s != samples.end(); ++s) {
    highest = std::max(highest, s->rssKb);
    fdLow = std::min(fdLow, s->fds);
    fdHigh = std::max(fdHigh, s->fds);
  }
  std::printf("%s: %ld frames in %.0f s (%.2f a second)\n", what.c_str(), frames, seconds, frames / seconds);
  for (const Sample& s : samples)
    if (s.frame % 1000 == 0 || &s == &samples.back() || &s == &*base)
      std::printf("  frame %6ld: RSS %7ld kB, %ld open descriptors\n", s.frame, s.rssKb, s.fds);
  std::printf("  growth after the warm-up (frame %ld): highest %ld kB, %+.1f%% (target at most +5%%); "
              "open descriptors %s\n",
              base->frame, highest, 100.0 * (highest - base->rssKb) / base->rssKb,
              fdLow == fdHigh ? ("constant at " + std::to_string(fdLow)).c_str()
                              : ("from " + std::to_string(fdLow) + " to " + std::to_string(fdHigh)).c_str());
}

// ffmpeg | kestrel-probe <mode...>, the answers read here.
void stream(const std::string& probe, const std::vector<std::string>& mode, long frames, int w, int h) {
  int frameFeed[2], answers[2];
  if (pipe2(frameFeed, O_CLOEXEC) || pipe2(answers, O_CLOEXEC)) std::exit(1);
  const pid_t ffmpeg = spawn({"ffmpeg", "-nostdin", "-v", "error", "-stream_loop", "-1", "-i", kClip, "-vf",
                              "scale=" + std::to_string(w) + ":" + std::to_string(h), "-frames:v",
                              std::to_string(frames), "-pix_fmt", "bgra", "-f", "rawvideo", "pipe:1"},
                             -1, frameFeed[1]);
  std::vector<std::string> args{probe};
  args.insert(args.end(), mode.begin(), mode.end());
  const auto began = std::chrono::steady_clock::now();
  const pid_t child = spawn(args, frameFeed[0], answers[1]);
  close(frameFeed[0]);
  close(frameFeed[1]);
  close(answers[1]);

  std::vector<char> answer(32 + static_cast<size_t>(w) * h);
  std::vector<Sample> samples;
  long done = 0;
  while (readAll(answers[0], answer.data(), answer.size()))
    if (++done % EVERY == 0)
      if (auto s = sample(child, done)) samples.push_back(*s);
  close(answers[0]);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  const int status = exitStatus(child), fed = exitStatus(ffmpeg);
  report(mode[0] + " " + std::to_string(w) + "x" + std::to_string(h), samples, done, seconds);
  if (done != frames || status != 0 || fed != 0)
    std::printf("  ended early: %ld of %ld frames, kestrel-probe status %d, ffmpeg status %d\n", done,
                frames, status, fed);
}

void analysis(const std::string& probe, const std::string& dir, int seconds) {
  // The clip looped without re-encoding; its timestamps run on across the loops.
  const std::string clip = dir + "/long.mkv";
  if (exitStatus(spawn({"ffmpeg", "-nostdin", "-v", "error", "-y", "-stream_loop", "-1", "-i", kClip, "-t",
                        std::to_string(seconds), "-c", "copy", "-an", clip},
                       -1, -1)) != 0) {
    std::printf("video analysis: can't make the clip\n");
    return;
  }
  int lines[2];
  if (pipe2(lines, O_CLOEXEC)) std::exit(1);
  const auto began = std::chrono::steady_clock::now();
  const pid_t child = spawn({probe, clip, "5"}, -1, lines[1]);
  close(lines[1]);
  FILE* out = fdopen(lines[0], "r");
  char* line = nullptr;
  size_t capacity = 0;
  // The child's output is block-buffered: a line arrives a few frames after
  // its frame was analysed, which moves a sample by those few frames only.
  std::vector<Sample> samples;
  long frames = 0;
  bool done = false;
  while (getline(&line, &capacity, out) > 0) {
    done = std::strncmp(line, "{\"type\":\"done\"", 14) == 0;
    if (std::strncmp(line, "{\"type\":\"frame\"", 15) == 0 && ++frames % EVERY == 0)
      if (auto s = sample(child, frames)) samples.push_back(*s);
  }
  free(line);
  fclose(out);
  // The last lines come with the flush at the exit, while the program ends.
  while (!samples.empty() && samples.back().frame > frames - 5) samples.pop_back();
  const int status = exitStatus(child);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  report("video analysis, " + std::to_string(seconds) + " s of 768x576 at 5 Hz", samples, frames, took);
  if (!done || status != 0) std::printf("  ended early: status %d, no done line\n", status);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  const long frames = argc > 1 ? std::atol(argv[1]) : 5000;
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 600;
  const int w = argc > 4 ? std::atoi(argv[3]) : 384, h = argc > 4 ? std::atoi(argv[4]) : 288;
  if (access(kClip, R_OK) != 0) {
    std::fprintf(stderr, "memory_bench: no %s (Debian's opencv-doc; run ./setup)\n", kClip);
    return 1;
  }
  char dir[] = "/tmp/kestrel-soak-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  if (frames > 0) {
    stream(KESTREL_PROBE, {"--cutout", std::to_string(w), std::to_string(h)}, frames, w, h);
    stream(KESTREL_PROBE, {"--person", std::to_string(w), std::to_string(h), "balanced"}, frames, w, h);
  }
  if (seconds > 0) analysis(KESTREL_PROBE, dir, seconds);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return 0;
}
