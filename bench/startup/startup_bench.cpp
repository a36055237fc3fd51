// Start-up: how long kestrel-probe takes for runs whose work is next to
// nothing, so that what is measured is the start (loading and linking the
// libraries a mode maps) and the end. Prints medians of alternated runs:
// - the usage line (no arguments; target at most 15 ms), beside a process
//   that does nothing (/bin/true) for the machine's own cost of a process;
// - --audio-inputs with no sound server, beside `pactl list short sources`
//   failing the same way (target at most 1.2 times);
// - the first thing each other mode does: the stream modes' gate self-test on
//   an empty input, the video analysis of a missing file (both fail at once).
//   startup_bench [runs] [another kestrel-probe to compare, e.g. main's]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/support/median.h"
#include "bench/support/timed_run.h"

using kestrel::bench::median;
using kestrel::bench::timedRun;

namespace {

using Env = std::map<std::string, std::string>;

// Median wall milliseconds of each command, run in turn `rounds` times.
std::vector<double> medians(const std::vector<std::vector<std::string>>& commands, const Env& env, int rounds) {
  std::vector<std::vector<double>> ms(commands.size());
  for (int i = 0; i < rounds; ++i)
    for (size_t c = 0; c < commands.size(); ++c) ms[c].push_back(timedRun(commands[c], env).seconds * 1000);
  std::vector<double> out;
  for (auto& m : ms) out.push_back(median(m));
  return out;
}

void report(const std::string& probe, const std::string& dir, int rounds) {
  // No server: a socket path where none listens, and no autospawn (a server
  // named by PULSE_SERVER is never spawned).
  const Env noServer = {{"PULSE_SERVER", "unix:" + dir + "/no-server"}, {"XDG_RUNTIME_DIR", dir}};
  std::printf("%s, median of %d runs (ms)\n", probe.c_str(), rounds);
  const auto usage = medians({{probe}, {"/bin/true"}}, {}, rounds);
  std::printf("  usage line              %7.2f  (target <= 15; /bin/true %.2f)\n", usage[0], usage[1]);
  const auto audio = medians({{probe, "--audio-inputs"}, {"pactl", "list", "short", "sources"}}, noServer, rounds);
  std::printf("  --audio-inputs, no server %5.2f  pactl %.2f  ratio %.2f (target <= 1.20)\n", audio[0], audio[1],
              audio[0] / audio[1]);
  const auto modes = medians({{probe, "--gate-test", "1", "1"}, {probe, dir + "/missing.mp4"}}, {}, rounds);
  std::printf("  stream modes' start     %7.2f  (--gate-test on no input)\n", modes[0]);
  std::printf("  video analysis' start   %7.2f  (a missing file)\n", modes[1]);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
  char dirTemplate[] = "/tmp/kestrel-startup-bench-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  report(KESTREL_PROBE, dir, rounds);
  if (argc > 2) report(argv[2], dir, rounds);
  std::filesystem::remove_all(dir);
  return 0;
}
