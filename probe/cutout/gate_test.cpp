// "--gate-test": the person gate on planes read from standard input.
#include "probe/cutout/gate_test.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/base/fail.h"
#include "platform/base/write_all.h"
#include "platform/frame_limit.h"
#include "probe/cutout/frame_io.h"
#include "probe/cutout/gate_test_input.h"

namespace kestrel {

namespace {

// Reads up to one byte past the expected length: enough to refuse a longer
// input without reading the rest of it.
void readAll(GateTestInput& input) {
  std::vector<uint8_t> chunk(1 << 16);
  while (input.received <= input.expected) {
    const auto ask = static_cast<size_t>(
        std::min<Count>(chunk.size(), input.expected - input.received + 1));
    const ssize_t got = ::read(STDIN_FILENO, chunk.data(), ask);
    if (got > 0) {
      take(input, chunk.data(), static_cast<size_t>(got));
    } else if (got == 0) {
      return;
    } else if (errno != EINTR) {
      fail(std::string("--gate-test: can't read standard input: ") + std::strerror(errno));
    }
  }
}

}  // namespace

void runGateTest(int64_t width, int64_t height) {
  // The planes are frames of the stream, and held to its limit.
  if (!streamSize(width, height)) fail("--gate-test: " + frameTooLarge(width, height));
  try {
    GateTestInput input = gateTestInput(width, height);
    readAll(input);
    if (const std::string problem = lengthError(input); !problem.empty()) fail(problem);
    const uint8_t* mask = gatePlanes(input);
    if (!writeAll(STDOUT_FILENO, mask, static_cast<size_t>(width * height)))
      fail(cantWriteOutput(errno));
  } catch (const std::bad_alloc&) {
    fail("--gate-test: out of memory");
  }
  std::exit(0);
}

}  // namespace kestrel
