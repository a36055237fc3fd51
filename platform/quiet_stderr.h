#pragma once
// Some libraries under the platform layer write to standard error on their
// own, with no switch to turn it off: libjxl prints its JXL_FAILURE lines on a
// broken JPEG XL file, under FFmpeg and libvips alike. While a QuietStderr
// lives, file descriptor 2 points at /dev/null; the last one to go restores
// it. It is held around the calls into such a library only (the libraries
// with a log of their own are silenced through it), since whatever else
// comes meanwhile, a sanitizer's report among it, is lost too. Threads share
// the silence: the video analysis decodes on a thread of its own while the
// main thread may have to report a failure, which goes out through whileLoud.
#include <fcntl.h>
#include <unistd.h>

#include <mutex>
#include <optional>

namespace kestrel {

class QuietStderr {
 public:
  QuietStderr() {
    const std::lock_guard lock(mutex());
    State& s = state();
    if (s.depth++ > 0) return;
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    s.saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (s.saved >= 0) ::dup2(null, STDERR_FILENO);
    ::close(null);
  }
  ~QuietStderr() {
    const std::lock_guard lock(mutex());
    State& s = state();
    if (--s.depth > 0 || s.saved < 0) return;
    ::dup2(s.saved, STDERR_FILENO);
    ::close(s.saved);
    s.saved = -1;
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

  // Calls write(fd) with the real standard error, silenced or not; no thread
  // changes it meanwhile.
  template <class Write>
  static void whileLoud(Write write) {
    const std::lock_guard lock(mutex());
    const State& s = state();
    write(s.depth > 0 && s.saved >= 0 ? s.saved : STDERR_FILENO);
  }

 private:
  struct State {
    int depth = 0;
    int saved = -1;
  };
  static State& state() {
    static State s;
    return s;
  }
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
};

// A QuietStderr for as long as it lives, when `needed`.
class QuietStderrWhen {
 public:
  explicit QuietStderrWhen(bool needed) {
    if (needed) quiet_.emplace();
  }

 private:
  std::optional<QuietStderr> quiet_;
};

}  // namespace kestrel
