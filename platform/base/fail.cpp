#include "platform/base/fail.h"

#include "platform/base/write_all.h"
#include "platform/quiet_stderr.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kestrel {

void fail(std::string_view message) {
  std::fflush(stdout);
  std::string line(message);
  line.push_back('\n');
  // Another thread may be silencing standard error around a library call.
  QuietStderr::whileLoud([&](int fd) {
    writeAll(fd, line.data(), line.size());
    std::_Exit(1);
  });
  std::_Exit(1);
}

}  // namespace kestrel
