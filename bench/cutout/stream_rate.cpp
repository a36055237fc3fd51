// The stream modes' rate as a host sees it: whole kestrel-probe processes
// given 100 frames of a real clip, each output frame timestamped as it
// arrives. Several builds side by side, run by run in turn:
//   stream_rate [--rounds N] [--dir FOLDER] [--clip VIDEO]... [--only MODE] PROBE [PROBE...]
// e.g. stream_rate build/probe/kestrel-probe /work/wt/base/build/probe/kestrel-probe
// The frames (OpenCV's vtest.avi unless --clip names others; Megamind.avi
// lies beside it) are made once with the ffmpeg CLI, fitted and padded to
// 640x360 and 1280x720, into FOLDER (default /tmp/kestrel-stream-rate). Each
// run reads its frames from that file as its standard input, so that no
// feeder limits the rate. Per mode and size: the steady rate over frames 21
// to 100 (fps and ms a frame) and the first frame's delay from the start,
// medians over the rounds (default 3), and each build's rate against the
// first one's. --only keeps the cases whose mode word it names (--person,
// say). Let nothing else run: the figures are meant for a quiet machine.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/support/child_process.h"
#include "bench/support/median.h"

using namespace kestrel::bench;

namespace {

constexpr int kFrames = 100;
constexpr int kSettled = 20;  // the rate is taken over the frames after these
constexpr size_t kHeader = 32;

struct Case {
  std::string label;  // printed
  std::vector<std::string> mode;
  std::string frames;  // the raw BGRA file
  int width, height;
};

struct Run {
  bool ok = false;
  double firstMs = 0, steadyMs = 0;  // the first frame's delay; a frame's time over frames 21..100
};

// The clip's first 100 frames as raw BGRA, fitted into width x height (shape
// kept, black around), made once.
std::string rawFrames(const std::string& clip, const std::string& dir, int w, int h) {
  const std::string out = dir + "/" + std::filesystem::path(clip).stem().string() + "_" + std::to_string(w) + "x" +
                          std::to_string(h) + ".bgra";
  const auto wanted = static_cast<uintmax_t>(kFrames) * 4 * w * h;
  std::error_code error;
  if (std::filesystem::file_size(out, error) == wanted) return out;
  const std::string size = std::to_string(w) + ":" + std::to_string(h);
  const int status = exitStatus(spawn({"ffmpeg", "-nostdin", "-v", "error", "-y", "-stream_loop", "-1", "-i", clip,
                                       "-frames:v", std::to_string(kFrames), "-vf",
                                       "scale=" + size + ":force_original_aspect_ratio=decrease,pad=" + size +
                                           ":(ow-iw)/2:(oh-ih)/2",
                                       "-pix_fmt", "bgra", "-f", "rawvideo", out},
                                      -1, -1));
  if (status != 0 || std::filesystem::file_size(out, error) != wanted) {
    std::fprintf(stderr, "stream_rate: can't make %s from %s with ffmpeg\n", out.c_str(), clip.c_str());
    std::exit(1);
  }
  return out;
}

// One process over the case's frames: when each output frame arrived.
Run runOnce(const std::string& probe, const Case& c) {
  Run r;
  const int in = open(c.frames.c_str(), O_RDONLY | O_CLOEXEC);
  int answers[2];
  if (in < 0 || pipe2(answers, O_CLOEXEC)) return r;
  std::vector<std::string> args{probe};
  args.insert(args.end(), c.mode.begin(), c.mode.end());
  const auto t0 = Clock::now();
  const pid_t child = spawn(args, in, answers[1]);
  close(in);
  close(answers[1]);
  std::vector<char> frame(kHeader + static_cast<size_t>(c.width) * c.height);
  std::vector<double> arrived;
  while (readAll(answers[0], frame.data(), frame.size())) arrived.push_back(msSince(t0));
  close(answers[0]);
  const int status = exitStatus(child);
  r.ok = status == 0 && arrived.size() == kFrames;
  if (!r.ok) {
    std::printf("  %s %s: status %d after %zu of %d frames\n", probe.c_str(), c.label.c_str(), status,
                arrived.size(), kFrames);
    return r;
  }
  r.firstMs = arrived.front();
  r.steadyMs = (arrived.back() - arrived[kSettled - 1]) / (kFrames - kSettled);
  return r;
}

void report(const std::vector<std::string>& probes, const std::vector<Case>& cases,
            const std::map<std::pair<size_t, size_t>, std::vector<Run>>& runs) {
  std::printf("\nmedians; rate over frames %d to %d; ratio: the build's rate over the first build's\n",
              kSettled + 1, kFrames);
  std::printf("%-32s %-5s %8s %10s %8s %10s\n", "mode", "build", "fps", "ms/frame", "ratio", "first ms");
  for (size_t c = 0; c < cases.size(); ++c) {
    double firstFps = 0;
    for (size_t p = 0; p < probes.size(); ++p) {
      std::vector<double> steady, first;
      for (const Run& r : runs.at({c, p}))
        if (r.ok) {
          steady.push_back(r.steadyMs);
          first.push_back(r.firstMs);
        }
      if (steady.empty()) {
        std::printf("%-32s %-5zu %8s\n", cases[c].label.c_str(), p + 1, "failed");
        continue;
      }
      const double ms = median(steady), fps = 1000.0 / ms;
      if (p == 0) firstFps = fps;
      std::printf("%-32s %-5zu %8.2f %10.2f %7.2fx %10.0f\n", cases[c].label.c_str(), p + 1, fps, ms,
                  firstFps > 0 ? fps / firstFps : 0.0, median(first));
    }
  }
  for (size_t p = 0; p < probes.size(); ++p) std::printf("build %zu: %s\n", p + 1, probes[p].c_str());
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  int rounds = 3;
  std::string dir = "/tmp/kestrel-stream-rate";
  std::vector<std::string> clips, probes;
  std::string only;
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    if (a == "--rounds" && k + 1 < argc) rounds = std::max(1, std::atoi(argv[++k]));
    else if (a == "--dir" && k + 1 < argc) dir = argv[++k];
    else if (a == "--clip" && k + 1 < argc) clips.push_back(argv[++k]);
    else if (a == "--only" && k + 1 < argc) only = argv[++k];
    else probes.push_back(a);
  }
  if (probes.empty()) {
    std::fprintf(stderr, "usage: stream_rate [--rounds N] [--dir FOLDER] [--clip VIDEO]... [--only MODE] PROBE [PROBE...]\n");
    return 1;
  }
  if (clips.empty()) clips.push_back("/usr/share/doc/opencv-doc/examples/data/vtest.avi");
  std::filesystem::create_directories(dir);

  std::vector<Case> cases;
  for (const std::string& clip : clips) {
    const std::string name = std::filesystem::path(clip).stem().string();
    const std::string small = rawFrames(clip, dir, 640, 360), large = rawFrames(clip, dir, 1280, 720);
    cases.push_back({"--cutout 640 360, " + name, {"--cutout", "640", "360"}, small, 640, 360});
    cases.push_back({"--cutout 1280 720, " + name, {"--cutout", "1280", "720"}, large, 1280, 720});
    for (const char* level : {"accurate", "balanced", "fast"})
      cases.push_back({std::string("--person 640 360 ") + level + ", " + name, {"--person", "640", "360", level},
                       small, 640, 360});
  }
  std::erase_if(cases, [&](const Case& c) { return c.label.find(only) == std::string::npos; });
  // Build by build in turn, each round starting with the next build, so that
  // a slower spell of the machine falls on all of them.
  std::map<std::pair<size_t, size_t>, std::vector<Run>> runs;
  for (int round = 0; round < rounds; ++round)
    for (size_t c = 0; c < cases.size(); ++c)
      for (size_t k = 0; k < probes.size(); ++k) {
        const size_t p = (k + static_cast<size_t>(round)) % probes.size();
        const Run r = runOnce(probes[p], cases[c]);
        runs[{c, p}].push_back(r);
        if (r.ok)
          std::printf("round %d, build %zu, %-32s %7.2f fps, %6.2f ms a frame, first frame %5.0f ms\n", round + 1,
                      p + 1, cases[c].label.c_str(), 1000.0 / r.steadyMs, r.steadyMs, r.firstMs);
        std::fflush(stdout);
      }
  report(probes, cases, runs);
  return 0;
}
