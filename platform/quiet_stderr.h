#pragma once
// Some libraries under the platform layer write to standard error on their
// own, with no switch to turn it off: libjxl prints its JXL_FAILURE lines on a
// broken JPEG XL file, under FFmpeg and libvips alike. While a QuietStderr
// lives, file descriptor 2 points at /dev/null; the last one to go restores
// it. For the programs' single thread of library calls.
#include <fcntl.h>
#include <unistd.h>

namespace kestrel {

class QuietStderr {
 public:
  QuietStderr() {
    State& s = state();
    if (s.depth++ > 0) return;
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    s.saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (s.saved >= 0) ::dup2(null, STDERR_FILENO);
    ::close(null);
  }
  ~QuietStderr() {
    State& s = state();
    if (--s.depth > 0 || s.saved < 0) return;
    ::dup2(s.saved, STDERR_FILENO);
    ::close(s.saved);
    s.saved = -1;
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  struct State {
    int depth = 0;
    int saved = -1;
  };
  static State& state() {
    static State s;
    return s;
  }
};

}  // namespace kestrel
