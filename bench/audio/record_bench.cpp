// Recording costs against a private PulseAudio server: the delay from starting
// kestrel-probe --record to its first bytes on standard output (and how much
// of it is the program's own start), the CPU time per second of recording,
// how soon the recording stops after its input ends (with a reader that keeps
// up and with one that lags), and how long a server that never answers holds
// the start.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <thread>

#include "bench/support/median.h"
#include "tests/audio/pulse_server.h"
#include "tests/support/live_process.h"

using namespace kestrel::test;
using kestrel::bench::median;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// User and system time of a running process, all its threads; negative when unreadable.
double cpuSoFar(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  double utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stod(field);
    if (i == 15) stime = std::stod(field);
  }
  return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The audio written beyond the time the input was open, after a lag of
// `lagSeconds` without reading: the stop's delay plus the first block, which
// was captured before the clock started. Negative on failure.
double excessAudio(const PulseServer& server, double lagSeconds) {
  LiveProcess p({KESTREL_PROBE, "--record", "stereo"}, server.clientEnv());
  if (!p.gatherUntil(4, 10)) return -1;
  p.gather(0.5);
  std::this_thread::sleep_for(std::chrono::duration<double>(lagSeconds));
  p.closeInput();
  const double held = std::chrono::duration<double>(Clock::now() - p.firstOutputTime()).count();
  if (!p.finish(10) || p.status() != 0) return -1;
  return static_cast<double>(p.out().size()) / 4 / 48000 - held;
}

// Milliseconds from the start to the failure line against a Unix socket that
// accepts and never answers.
void silentServer() {
  const std::string path = "/tmp/kestrel-silent-" + std::to_string(getpid());
  SilentServer silent(path);
  LiveProcess p({KESTREL_PROBE, "--record", ""}, {{"PULSE_SERVER", "unix:" + path}});
  p.closeInput();
  p.finish(60);
  std::printf("silent server: \"%s\" after %.0f ms (target < 5000 ms)\n",
              p.err().substr(0, p.err().find('\n')).c_str(), ms(p.endTime() - p.startTime()));
}

}  // namespace

int main() {
  PulseServer server;
  if (!server.error().empty()) {
    std::fprintf(stderr, "record_bench: %s\n", server.error().c_str());
    return 1;
  }
  std::printf("kestrel-probe --record on a private PulseAudio server\n");
  std::printf("sources: stereo = 44.1 kHz 2 channels, sine = 48 kHz mono\n");

  // The program's own start: the same process ending at once with its usage line.
  std::vector<double> starts;
  for (int run = 0; run < 9; ++run) {
    LiveProcess p({KESTREL_PROBE}, {});
    p.finish(10);
    starts.push_back(ms(Clock::now() - p.startTime()));
  }
  std::printf("program start and exit alone: median %.1f ms\n", median(starts));

  for (const char* id : {"stereo", "sine"}) {
    std::vector<double> delays;
    for (int run = 0; run < 10; ++run) {
      LiveProcess p({KESTREL_PROBE, "--record", id}, server.clientEnv());
      if (!p.gatherUntil(4, 10)) {
        std::fprintf(stderr, "record_bench: no audio from %s: %s\n", id, p.err().c_str());
        return 1;
      }
      if (run > 0) delays.push_back(ms(p.firstOutputTime() - p.startTime()));  // run 0 warms the server up
      p.closeInput();
      p.finish(10);
    }
    std::printf("%-6s delay to first bytes: median %.1f ms, worst %.1f ms (target < 150 ms); "
                "less the program's start: %.1f ms\n",
                id, median(delays), *std::max_element(delays.begin(), delays.end()),
                median(delays) - median(starts));
  }

  // CPU over a stretch of a running recording: the start and the connection are left out.
  const double settle = 2, span = 15;
  for (const char* id : {"stereo", "sine"}) {
    LiveProcess p({KESTREL_PROBE, "--record", id}, server.clientEnv());
    p.gather(settle);
    size_t bytesBefore = p.out().size();
    double before = cpuSoFar(p.pid());
    p.gather(span);
    double after = cpuSoFar(p.pid());
    size_t bytesAfter = p.out().size();
    p.closeInput();
    if (before < 0 || after < 0 || !p.finish(10) || p.status() != 0) {
      std::fprintf(stderr, "record_bench: recording %s failed\n", id);
      return 1;
    }
    double recorded = static_cast<double>(bytesAfter - bytesBefore) / 4 / 48000;
    std::printf("%-6s CPU per second of recording: %.2f%% of one core (target < 3%%), over %.1f s of audio; "
                "whole run %.3f s CPU\n",
                id, 100 * (after - before) / span, recorded, p.cpuSeconds());
  }

  // The stop: input closed to process gone, with a reader that keeps up.
  std::vector<double> stops;
  for (int run = 0; run < 10; ++run) {
    LiveProcess p({KESTREL_PROBE, "--record", "stereo"}, server.clientEnv());
    if (!p.gatherUntil(4, 10)) return 1;
    p.gather(0.3);
    const auto closed = Clock::now();
    p.closeInput();
    if (!p.finish(10)) return 1;
    stops.push_back(ms(p.endTime() - closed));
  }
  std::printf("stop, input end to exit, reader keeping up: median %.1f ms, worst %.1f ms (target < 100 ms)\n",
              median(stops), *std::max_element(stops.begin(), stops.end()));
  for (double lag : {1.0, 1.5, 3.0}) {
    std::vector<double> excess;
    for (int run = 0; run < 5; ++run) excess.push_back(1000 * excessAudio(server, lag));
    std::printf("stop with a reader lagging %.1f s: audio beyond the open input median %.0f ms, worst %.0f ms "
                "(first block ~46 ms + stop; target < 150 ms)\n",
                lag, median(excess), *std::max_element(excess.begin(), excess.end()));
  }
  silentServer();
  return 0;
}
