#pragma once
// A program running while the test talks to it: its standard input stays open
// until closed, its outputs are gathered as they come.
#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace kestrel::test {

class LiveProcess {
 public:
  LiveProcess(const std::vector<std::string>& args, const std::map<std::string, std::string>& env);
  ~LiveProcess();  // kills the program if it still runs
  LiveProcess(const LiveProcess&) = delete;
  LiveProcess& operator=(const LiveProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }  // -1 once it has ended
  // Gathers output for this long, or until both outputs end.
  void gather(double seconds);
  // Gathers until standard output holds at least `bytes`; false on timeout or end.
  bool gatherUntil(size_t bytes, double timeoutSeconds);
  // Writes the bytes to standard input, gathering output meanwhile; false
  // when the program stopped taking them or on timeout.
  bool send(const std::string& bytes, double timeoutSeconds = 30);
  void closeInput();
  // The reader goes away: later writes of the program fail.
  void closeOutput();
  // Waits for the program to end, gathering what is left; false on timeout
  // (the program is then killed).
  bool finish(double timeoutSeconds);

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }
  int status() const { return status_; }            // exit status, or 128 + signal
  double cpuSeconds() const { return cpuSeconds_; }  // user + system time, once finished
  std::chrono::steady_clock::time_point startTime() const { return start_; }
  std::chrono::steady_clock::time_point firstOutputTime() const { return firstOut_; }
  // When the program was seen to have ended, to within 20 ms.
  std::chrono::steady_clock::time_point endTime() const { return end_; }

 private:
  void poll(int timeoutMs);
  bool reap(bool block);

  pid_t pid_ = -1;
  int in_ = -1, out_fd_ = -1, err_fd_ = -1;
  std::string out_, err_;
  int status_ = -1;
  double cpuSeconds_ = 0;
  std::chrono::steady_clock::time_point start_, firstOut_, end_;
};

}  // namespace kestrel::test
