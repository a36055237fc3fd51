// Time to read one stream frame from a pipe, as the streams read it: a writer
// thread fills the pipe as fast as it can, the reader takes frame after frame.
//   pipe_read_bench [width height frames]   (default 1920 1080 60)
// A pipe hands over at most 64 KiB a read, so this is where the reading's
// cost per piece shows. Let nothing else run.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/write_all.h"
#include "probe/cutout/frame_io.h"

using namespace kestrel;

int main(int argc, char** argv) {
  const int64_t width = argc > 2 ? std::atoll(argv[1]) : 1920;
  const int64_t height = argc > 2 ? std::atoll(argv[2]) : 1080;
  const int frames = argc > 3 ? std::atoi(argv[3]) : 60;
  const auto frameBytes = static_cast<size_t>(4 * width * height);
  int fds[2];
  if (::pipe(fds) != 0) return 1;
  std::thread writer([&] {
    const std::vector<uint8_t> frame(frameBytes, 0x40);
    for (int i = 0; i < frames; ++i) writeAll(fds[1], frame.data(), frame.size());
    ::close(fds[1]);
  });
  std::vector<uint8_t> pending;
  int read = 0;
  const auto start = std::chrono::steady_clock::now();
  while (readFrame(fds[0], pending, static_cast<int64_t>(frameBytes))) {
    pending.clear();  // as the streams' step leaves it
    ++read;
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  writer.join();
  ::close(fds[0]);
  std::printf("%lldx%lld from a pipe: %d frames, %.2f ms a frame\n", static_cast<long long>(width),
              static_cast<long long>(height), read, ms / read);
  return read == frames ? 0 : 1;
}
