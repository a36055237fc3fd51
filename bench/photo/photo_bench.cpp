// Times `kestrel-probe --photo` on a 24-megapixel JPEG to 1024 pixels beside
// `vipsthumbnail` doing the same on the same file, in the same run, and
// prints both medians and their ratio (target: at most 1.2).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/median.h"

using kestrel::bench::median;

namespace {

struct Run {
  double seconds = 0;
  long maxRssKb = 0;
  bool ok = false;
};

// Runs a program with its output thrown away; wall time and peak memory.
Run run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Run r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.maxRssKb = usage.ru_maxrss;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  char dirTemplate[] = "/tmp/kestrel-photo-bench-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  const std::string jpeg = dir + "/photo24.jpg";

  // A 6000x4000 picture with photo-like detail: a photo Debian ships, enlarged,
  // with fine noise on top so the JPEG carries as much data as a camera's.
  const std::string base = "/usr/share/doc/opencv-doc/examples/data/baboon.jpg";
  const std::string grain = "vips gaussnoise " + dir + "/n.v 6000 4000 --sigma 12 --mean 0 && ";
  const std::string make =
      std::filesystem::exists(base)
          ? grain + "vips resize " + base + " " + dir + "/big.v 11.72 --vscale 7.82 && " +
                "vips add " + dir + "/big.v " + dir + "/n.v " + dir + "/sum.v && " +
                "vips cast " + dir + "/sum.v " + dir + "/c.v uchar && " +
                "vips extract_area " + dir + "/c.v " + dir + "/e.v 0 0 6000 4000 && " +
                "vips jpegsave " + dir + "/e.v " + jpeg + " --Q 92"
          : grain + "vips linear " + dir + "/n.v " + dir + "/m.v 1 128 --uchar && " +
                "vips bandjoin \"" + dir + "/m.v " + dir + "/m.v " + dir + "/m.v\" " + dir +
                "/c.v && vips jpegsave " + dir + "/c.v " + jpeg + " --Q 92";
  if (!shell(make + " >/dev/null 2>&1")) {
    std::fprintf(stderr, "could not make the test picture\n");
    return 1;
  }

  std::vector<double> probe, thumb;
  long probeRss = 0, thumbRss = 0;
  for (int i = 0; i < rounds; ++i) {
    // Alternate, so both see the same machine load and file cache.
    Run a = run({KESTREL_PROBE, "--photo", jpeg, dir + "/probe.png", "1024"});
    Run b = run({"vipsthumbnail", jpeg, "--size", "1024", "-o", dir + "/thumb.png"});
    if (!a.ok || !b.ok) {
      std::fprintf(stderr, "a run failed (probe %d, vipsthumbnail %d)\n", a.ok, b.ok);
      return 1;
    }
    probe.push_back(a.seconds);
    thumb.push_back(b.seconds);
    probeRss = std::max(probeRss, a.maxRssKb);
    thumbRss = std::max(thumbRss, b.maxRssKb);
  }
  const double p = median(probe), t = median(thumb);
  std::printf("photo: 6000x4000 JPEG (%.1f MB) to 1024, median of %d runs\n",
              std::filesystem::file_size(jpeg) / 1e6, rounds);
  std::printf("  kestrel-probe --photo  %7.3f s  peak %6ld KB\n", p, probeRss);
  std::printf("  vipsthumbnail          %7.3f s  peak %6ld KB\n", t, thumbRss);
  std::printf("  ratio                  %7.2f  (target <= 1.20)\n", p / t);
  std::filesystem::remove_all(dir);
  return 0;
}
