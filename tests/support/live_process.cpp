#include "tests/support/live_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "tests/support/process.h"

namespace kestrel::test {

LiveProcess::LiveProcess(const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env) {
  int in[2], out[2], err[2];
  if (pipe(in) || pipe(out) || pipe(err)) return;
  signal(SIGPIPE, SIG_IGN);
  start_ = std::chrono::steady_clock::now();
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    signal(SIGPIPE, SIG_DFL);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    execProgram(args);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_ = in[1];
  out_fd_ = out[0];
  err_fd_ = err[0];
}

LiveProcess::~LiveProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    reap(true);
  }
  for (int fd : {in_, out_fd_, err_fd_})
    if (fd >= 0) close(fd);
}

void LiveProcess::poll(int timeoutMs) {
  pollfd fds[2];
  int n = 0;
  if (out_fd_ >= 0) fds[n++] = {out_fd_, POLLIN, 0};
  if (err_fd_ >= 0) fds[n++] = {err_fd_, POLLIN, 0};
  if (n == 0) {
    usleep(static_cast<useconds_t>(timeoutMs) * 1000);
    return;
  }
  if (::poll(fds, n, timeoutMs) <= 0) return;
  char buf[65536];
  for (int i = 0; i < n; ++i) {
    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    int& fd = fds[i].fd == out_fd_ ? out_fd_ : err_fd_;
    std::string& sink = fds[i].fd == out_fd_ ? out_ : err_;
    ssize_t r = read(fd, buf, sizeof buf);
    if (r > 0) {
      if (&sink == &out_ && out_.empty()) firstOut_ = std::chrono::steady_clock::now();
      sink.append(buf, static_cast<size_t>(r));
    } else {
      close(fd);
      fd = -1;
    }
  }
}

void LiveProcess::gather(double seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while ((out_fd_ >= 0 || err_fd_ >= 0) && std::chrono::steady_clock::now() < end) poll(20);
}

bool LiveProcess::gatherUntil(size_t bytes, double timeoutSeconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (out_.size() < bytes) {
    if (out_fd_ < 0 || std::chrono::steady_clock::now() >= end) return false;
    poll(5);
  }
  return true;
}

bool LiveProcess::send(const std::string& bytes, double timeoutSeconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  size_t at = 0;
  while (at < bytes.size()) {
    if (in_ < 0 || std::chrono::steady_clock::now() >= end) return false;
    pollfd fd{in_, POLLOUT, 0};
    if (::poll(&fd, 1, 0) <= 0 || !(fd.revents & (POLLOUT | POLLERR))) {
      poll(5);  // the program may be waiting for its output to be read
      continue;
    }
    // A pipe that polls writable takes PIPE_BUF bytes without blocking.
    ssize_t n = write(in_, bytes.data() + at, std::min<size_t>(PIPE_BUF, bytes.size() - at));
    if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
    if (n > 0) at += static_cast<size_t>(n);
  }
  return true;
}

void LiveProcess::closeInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

void LiveProcess::closeOutput() {
  if (out_fd_ >= 0) close(out_fd_);
  out_fd_ = -1;
}

bool LiveProcess::reap(bool block) {
  int status = 0;
  rusage usage{};
  pid_t r = wait4(pid_, &status, block ? 0 : WNOHANG, &usage);
  if (r != pid_) return false;
  end_ = std::chrono::steady_clock::now();
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  cpuSeconds_ = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  pid_ = -1;
  return true;
}

bool LiveProcess::finish(double timeoutSeconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  while (pid_ > 0) {
    poll(20);  // outputs are drained, so the program never blocks on a full pipe
    if (reap(false)) break;
    if (std::chrono::steady_clock::now() >= end) {
      kill(pid_, SIGKILL);
      reap(true);
      return false;
    }
  }
  gather(0.5);  // what was still in the pipes
  return true;
}

}  // namespace kestrel::test
