#include "probe/front/fail.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kestrel {

void fail(std::string_view message) {
  std::fflush(stdout);
  std::string line(message);
  line.push_back('\n');
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
  std::_Exit(1);
}

}  // namespace kestrel
