// Times `kestrel-probe --photo` on 12- and 24-megapixel JPEGs to 1024 pixels
// beside `vipsthumbnail` doing the same on the same file, in the same run,
// and prints both medians and their ratio against its target.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/support/median.h"
#include "bench/support/timed_run.h"

using kestrel::bench::median;
using kestrel::bench::timedRun;

namespace {

bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// A width x height JPEG with photo-like detail: a photo Debian ships,
// enlarged, with fine noise on top so it carries as much data as a camera's.
bool makeJpeg(const std::string& dir, int width, int height, const std::string& jpeg) {
  const std::string base = "/usr/share/doc/opencv-doc/examples/data/baboon.jpg";  // 512 x 512
  const std::string w = std::to_string(width), h = std::to_string(height);
  const std::string grain = "vips gaussnoise " + dir + "/n.v " + w + " " + h + " --sigma 12 --mean 0 && ";
  const std::string make =
      std::filesystem::exists(base)
          ? grain + "vips resize " + base + " " + dir + "/big.v " + std::to_string((width + 8) / 512.0) +
                " --vscale " + std::to_string((height + 8) / 512.0) + " && " +
                "vips extract_area " + dir + "/big.v " + dir + "/e.v 0 0 " + w + " " + h + " && " +
                "vips add " + dir + "/e.v " + dir + "/n.v " + dir + "/sum.v && " +
                "vips cast " + dir + "/sum.v " + dir + "/c.v uchar && " +
                "vips jpegsave " + dir + "/c.v " + jpeg + " --Q 92"
          : grain + "vips linear " + dir + "/n.v " + dir + "/m.v 1 128 --uchar && " +
                "vips bandjoin \"" + dir + "/m.v " + dir + "/m.v " + dir + "/m.v\" " + dir +
                "/c.v && vips jpegsave " + dir + "/c.v " + jpeg + " --Q 92";
  return shell(make + " >/dev/null 2>&1");
}

// kestrel-probe --photo and vipsthumbnail on the same file to 1024 pixels,
// alternated so that both see the same load and file cache.
bool compare(const std::string& dir, int width, int height, int rounds, double target) {
  const std::string jpeg = dir + "/photo.jpg";
  if (!makeJpeg(dir, width, height, jpeg)) {
    std::fprintf(stderr, "could not make the test picture\n");
    return false;
  }
  std::vector<double> probe, thumb;
  long probeRss = 0, thumbRss = 0;
  for (int i = 0; i < rounds; ++i) {
    const auto a = timedRun({KESTREL_PROBE, "--photo", jpeg, dir + "/probe.png", "1024"});
    const auto b = timedRun({"vipsthumbnail", jpeg, "--size", "1024", "-o", dir + "/thumb.png"});
    if (a.status != 0 || b.status != 0) {
      std::fprintf(stderr, "a run failed (probe %d, vipsthumbnail %d)\n", a.status, b.status);
      return false;
    }
    probe.push_back(a.seconds);
    thumb.push_back(b.seconds);
    probeRss = std::max(probeRss, a.maxRssKb);
    thumbRss = std::max(thumbRss, b.maxRssKb);
  }
  const double p = median(probe), t = median(thumb);
  std::printf("photo: %dx%d JPEG (%.1f MB) to 1024, median of %d runs\n", width, height,
              std::filesystem::file_size(jpeg) / 1e6, rounds);
  std::printf("  kestrel-probe --photo  %7.3f s  peak %6ld KB\n", p, probeRss);
  std::printf("  vipsthumbnail          %7.3f s  peak %6ld KB\n", t, thumbRss);
  std::printf("  ratio                  %7.2f  (target <= %.2f)\n", p / t, target);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  char dirTemplate[] = "/tmp/kestrel-photo-bench-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  // A 12-megapixel photo, where the program's start weighs most, and a
  // 24-megapixel one, where the decoding does.
  const bool ok = compare(dir, 4000, 3000, rounds, 1.05) && compare(dir, 6000, 4000, rounds, 1.20);
  std::filesystem::remove_all(dir);
  return ok ? 0 : 1;
}
