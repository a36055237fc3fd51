#pragma once
// Programs started with chosen standard input and output, as a host starts
// kestrel-probe, for the benchmarks that time whole processes.
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace kestrel::bench {

// Starts a program (looked up on the PATH) with the given standard input and
// output (-1: inherited). Pipes passed here should be close-on-exec, so that
// a child holds only its own two ends.
inline pid_t spawn(const std::vector<std::string>& args, int in, int out) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (in >= 0) dup2(in, 0);
  if (out >= 0) dup2(out, 1);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

// The exit status, or 128 + the signal that ended it.
inline int exitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reads exactly `size` bytes; false at the end of the input or on an error.
inline bool readAll(int fd, char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = read(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace kestrel::bench
