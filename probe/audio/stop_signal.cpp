#include "probe/audio/stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace kestrel {

StopSignal::StopSignal() {
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

StopSignal::~StopSignal() {
  for (int fd : wake_)
    if (fd >= 0) close(fd);
}

void StopSignal::raise(Stop reason, const std::string& message) {
  {
    std::lock_guard lock(mutex_);
    if (raised_) return;
    raised_ = true;
    reason_ = reason;
    message_ = message;
  }
  if (wake_[1] >= 0) {
    char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_[1], &byte, 1);
  }
}

std::string StopSignal::message() const {
  std::lock_guard lock(mutex_);
  return message_;
}

Stop StopSignal::wait(int input) {
  char buffer[65536];
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (raised_) return reason_;
    }
    pollfd fds[2] = {{input, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    // Without a wake-up pipe the stop is still seen, a little later.
    int ready = poll(fds, wake_[0] >= 0 ? 2 : 1, wake_[0] >= 0 ? -1 : 100);
    if (ready < 0 && errno != EINTR) return Stop::InputEnded;
    if (ready <= 0) continue;
    if (fds[0].revents & POLLNVAL) return Stop::InputEnded;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = ::read(input, buffer, sizeof buffer);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return Stop::InputEnded;
    }
  }
}

}  // namespace kestrel
