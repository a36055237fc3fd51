#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace kestrel::test {

ProcessResult runProcess(const std::vector<std::string>& args, const ProcessOptions& options) {
  ProcessResult result;
  int in[2], out[2], err[2];
  if (pipe(in) || pipe(out) || pipe(err)) return result;
  signal(SIGPIPE, SIG_IGN);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    signal(SIGPIPE, SIG_DFL);
    for (const auto& name : options.unsetEnv) unsetenv(name.c_str());
    for (const auto& [k, v] : options.env) setenv(k.c_str(), v.c_str(), 1);
    if (options.cwd && chdir(options.cwd->c_str()) != 0) _exit(126);
    if (options.addressSpaceLimit) {
      const rlimit limit{*options.addressSpaceLimit, *options.addressSpaceLimit};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    execProgram(args);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  fcntl(in[1], F_SETFL, O_NONBLOCK);

  size_t written = 0, piece = 0;
  bool inputOpen = true;
  if (options.input.empty()) {
    close(in[1]);
    inputOpen = false;
  }
  bool outOpen = true, errOpen = true;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<int64_t>(options.timeoutSeconds * 1000));
  char buf[65536];
  while (outOpen || errOpen) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      result.timedOut = true;
      break;
    }
    pollfd fds[3];
    int n = 0;
    int iOut = -1, iErr = -1, iIn = -1;
    if (outOpen) iOut = n, fds[n++] = {out[0], POLLIN, 0};
    if (errOpen) iErr = n, fds[n++] = {err[0], POLLIN, 0};
    if (inputOpen) iIn = n, fds[n++] = {in[1], POLLOUT, 0};
    if (poll(fds, n, 100) < 0) continue;
    if (iIn >= 0 && (fds[iIn].revents & (POLLOUT | POLLERR | POLLHUP))) {
      size_t want = options.input.size() - written;
      if (!options.inputPieces.empty()) {
        want = std::min(want, options.inputPieces[piece % options.inputPieces.size()]);
        ++piece;
      }
      ssize_t w = write(in[1], options.input.data() + written, want);
      if (w > 0) written += static_cast<size_t>(w);
      if (w < 0 && errno != EAGAIN) written = options.input.size();
      if (written >= options.input.size()) {
        close(in[1]);
        inputOpen = false;
      }
    }
    for (auto [idx, fd, sink, open] :
         {std::tuple{iOut, out[0], &result.out, &outOpen}, std::tuple{iErr, err[0], &result.err, &errOpen}}) {
      if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t r = read(fd, buf, sizeof buf);
      if (r > 0) sink->append(buf, static_cast<size_t>(r));
      else *open = false;
    }
  }
  if (inputOpen) close(in[1]);
  close(out[0]);
  close(err[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.maxRssKb = usage.ru_maxrss;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

void execProgram(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  if (!argv.empty() && argv[0]) execvp(argv[0], argv.data());
  _exit(127);
}

ProcessResult runProbe(const std::vector<std::string>& args, const ProcessOptions& options) {
  std::vector<std::string> all{KESTREL_PROBE};
  all.insert(all.end(), args.begin(), args.end());
  return runProcess(all, options);
}

bool shell(const std::string& command, std::string* log) {
  ProcessResult r = runProcess({"/bin/sh", "-c", command + " 2>&1"}, {.timeoutSeconds = 600});
  if (log) *log = r.out;
  return r.status == 0;
}

}  // namespace kestrel::test
