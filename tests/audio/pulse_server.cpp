#include "tests/audio/pulse_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/process.h"

namespace kestrel::test {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// Runs a command with its output in a file; its exit status, or -1.
int runQuiet(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
             const std::string& logPath) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    FILE* log = fopen(logPath.c_str(), "w");
    if (log) {
      dup2(fileno(log), 1);
      dup2(fileno(log), 2);
    }
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    execProgram(args);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A TCP port that was free a moment ago.
int freePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  close(fd);
  return port;
}

}  // namespace

PulseServer::PulseServer() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kestrel-pulse-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) {
    error_ = "can't make a folder for the PulseAudio server";
    return;
  }
  dir_ = tmpl;
  std::filesystem::create_directories(dir_ + "/run");
  std::filesystem::create_directories(dir_ + "/home");
  socket_ = dir_ + "/native";
  const std::string log = dir_ + "/server.log";

  // The stereo source: two one-channel sinks feed the two channels of a null
  // sink; its monitor, remapped, is a source that is not a monitor. The
  // loopback keeps that sink's latency low, so the source delivers at once.
  const std::vector<std::string> args = {
      "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=false",
      "--realtime=false", "--high-priority=false", "--disable-shm=true", "--log-target=stderr",
      "--log-level=error",
      "-L", "module-native-protocol-unix socket=" + socket_ + " auth-anonymous=1",
      "-L", "module-null-sink sink_name=out",
      "-L", "module-sine-source source_name=sine rate=48000 frequency=440 "
            "source_properties='device.description=\"Sine 440\"'",
      "-L", "module-null-sink sink_name=pair rate=44100 channels=2",
      "-L", "module-remap-sink sink_name=left master=pair channels=1 channel_map=mono "
            "master_channel_map=front-left remix=no",
      "-L", "module-remap-sink sink_name=right master=pair channels=1 channel_map=mono "
            "master_channel_map=front-right remix=no",
      "-L", "module-sine sink=left frequency=1000",
      "-L", "module-sine sink=right frequency=3000",
      "-L", "module-remap-source source_name=stereo master=pair.monitor channels=2 remix=no "
            "source_properties='device.description=\"Stéréo/\\\"Mic\\\"\"'",
      "-L", "module-loopback source=pair.monitor sink=out latency_msec=40",
  };
  pid_ = fork();
  if (pid_ < 0) {
    error_ = "can't start pulseaudio";
    return;
  }
  if (pid_ == 0) {
    FILE* f = fopen(log.c_str(), "w");
    if (f) {
      dup2(fileno(f), 1);
      dup2(fileno(f), 2);
    }
    int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, 0);
    setenv("XDG_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
    setenv("HOME", (dir_ + "/home").c_str(), 1);
    // No session bus here, and none needed.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("PULSE_SERVER");
    execProgram(args);
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error_ = "pulseaudio exited before it answered (" +
               std::string(WIFEXITED(status) && WEXITSTATUS(status) == 127
                               ? "not installed? run ./setup"
                               : "status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1)) +
               "); its log:\n" + slurp(log);
      return;
    }
    std::string answer;
    if (std::filesystem::exists(socket_) && pactl("set-default-source sine", &answer)) break;
    if (std::chrono::steady_clock::now() > deadline) {
      error_ = "pulseaudio did not answer within 20 s; pactl said: " + answer + "\nits log:\n" + slurp(log);
      kill();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

PulseServer::~PulseServer() {
  kill();
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

void PulseServer::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (waitpid(pid_, nullptr, WNOHANG) != pid_) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
}

std::map<std::string, std::string> PulseServer::clientEnv() const {
  return {{"PULSE_SERVER", "unix:" + socket_},
          {"HOME", dir_ + "/home"},
          {"XDG_RUNTIME_DIR", dir_ + "/run"}};
}

bool PulseServer::pactl(const std::string& arguments, std::string* output) const {
  std::vector<std::string> args = {"pactl"};
  std::istringstream words(arguments);
  for (std::string w; words >> w;) args.push_back(w);
  const std::string log = dir_ + "/pactl.log";
  int status = runQuiet(args, clientEnv(), log);
  if (output) *output = slurp(log);
  return status == 0;
}

std::string PulseServer::lockedAddress() {
  // A random cookie for the server, another where clients look for theirs.
  std::filesystem::create_directories(dir_ + "/home/.config/pulse");
  for (const char* name : {"/server-cookie", "/home/.config/pulse/cookie"}) {
    std::ifstream random("/dev/urandom", std::ios::binary);
    char bytes[256];
    random.read(bytes, sizeof bytes);
    std::ofstream(dir_ + name, std::ios::binary).write(bytes, sizeof bytes);
  }
  int port = freePort();
  if (port == 0) return {};
  if (!pactl("load-module module-native-protocol-tcp listen=127.0.0.1 port=" + std::to_string(port) +
             " auth-anonymous=0 auth-cookie=" + dir_ + "/server-cookie"))
    return {};
  return "tcp:127.0.0.1:" + std::to_string(port);
}

SilentServer::SilentServer(const std::string& path) : path_(path) {
  listener_ = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 8) != 0)
    return;
  thread_ = std::thread([this] {
    for (int c; (c = accept(listener_, nullptr, nullptr)) >= 0;) held_.push_back(c);
  });
}

SilentServer::~SilentServer() {
  if (listener_ >= 0) shutdown(listener_, SHUT_RDWR);  // ends the accept
  if (thread_.joinable()) thread_.join();
  for (int c : held_) close(c);
  if (listener_ >= 0) {
    close(listener_);
    unlink(path_.c_str());
  }
}

}  // namespace kestrel::test
