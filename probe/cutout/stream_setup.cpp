#include "probe/cutout/stream_setup.h"

#include <csignal>
#include <string>

#include "platform/base/fail.h"

namespace kestrel {

StreamSize streamSetup(int64_t width, int64_t height) {
  std::signal(SIGPIPE, SIG_IGN);
  auto size = streamSize(width, height);
  if (!size)
    fail("frames of " + std::to_string(width) + "x" + std::to_string(height) +
         " pixels are too large (at most 16384x16384 pixels)");
  return *size;
}

}  // namespace kestrel
