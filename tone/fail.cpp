#include "tone/fail.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kestrel::tone {

void fail(std::string_view message) {
  std::fflush(stdout);
  std::string line(message);
  line += '\n';
  for (size_t done = 0; done < line.size();) {
    const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  std::_Exit(1);
}

}  // namespace kestrel::tone
