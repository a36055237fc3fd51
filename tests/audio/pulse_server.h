#pragma once
// A private PulseAudio server for the audio tests and benchmarks: its own
// runtime and home folders, the native protocol on a private socket with
// anonymous access, and these devices:
//   "sine"    mono, 48 kHz, a 440 Hz tone, described "Sine 440";
//   "stereo"  two channels at 44.1 kHz, 1000 Hz on the first, 3000 Hz on the
//             second, described "Stéréo/\"Mic\"";
//   monitors of its sinks, which are not microphones.
// Runs as the current user, root included; stopped by its process id.
#include <sys/types.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::test {

inline constexpr double SINE_HZ = 440, LEFT_HZ = 1000, RIGHT_HZ = 3000;

class PulseServer {
 public:
  PulseServer();  // starts it and waits until it answers; see error()
  ~PulseServer();
  PulseServer(const PulseServer&) = delete;
  PulseServer& operator=(const PulseServer&) = delete;

  // Empty when the server runs; otherwise why it could not start, with its log.
  const std::string& error() const { return error_; }
  // The environment a client needs to reach it (and nothing of the user's).
  std::map<std::string, std::string> clientEnv() const;
  // pactl with these arguments against this server; false on failure, log in *output.
  bool pactl(const std::string& arguments, std::string* output = nullptr) const;
  // Adds a TCP listener that wants a cookie, and returns its address; clients
  // without that cookie are refused. Empty on failure.
  std::string lockedAddress();
  // Stops the server now, as a crash or a logout would.
  void kill();

 private:
  std::string dir_;
  std::string socket_;
  pid_t pid_ = -1;
  std::string error_;
};

// A Unix socket at `path` that takes every connection and never says a word,
// as a hung sound server would.
class SilentServer {
 public:
  explicit SilentServer(const std::string& path);
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;
  bool listening() const { return thread_.joinable(); }

 private:
  std::string path_;
  int listener_ = -1;
  std::thread thread_;
  std::vector<int> held_;
};

}  // namespace kestrel::test
