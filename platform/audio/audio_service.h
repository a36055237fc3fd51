#pragma once
// The sound server as the audio modes see it: its capture devices, their
// formats, and one running capture. Backed by PulseAudio (or PipeWire's
// PulseAudio server).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::audio {

// One capture device as the server reports it.
struct Source {
  std::string id;                   // the server's name for it, what a recording asks for
  std::optional<std::string> name;  // its description, made valid UTF-8; absent when the server gives none
  uint32_t channels = 0;
  bool monitor = false;             // captures what a sink plays, not a microphone
};

struct SourceList {
  std::vector<Source> sources;  // in the server's order
  std::optional<std::string> defaultId;
};

// The format a source delivers: float samples at its own rate and channel count.
struct Format {
  uint32_t sampleRate = 0;
  uint32_t channels = 0;
};

// Library messages go nowhere near standard error. Call before any other audio call.
void silenceAudio();

// Every source and the default one; an unreachable server or a failed query
// gives an empty list, a failed default query no default.
SourceList listSources();

enum class Outcome { Ok, AccessDenied, NoSource, Failed };

struct Result {
  Outcome outcome = Outcome::Ok;
  std::string error;  // the library's text when not Ok
  bool ok() const { return outcome == Outcome::Ok; }
};

// Interleaved float frames of one captured block, on the capture thread.
using BlockHandler = std::function<void(const float* frames, size_t count)>;
// The server or the source went away; the capture delivers nothing more.
using LostHandler = std::function<void(const std::string& error)>;

struct ServerState;

// A connection to the sound server with its own event thread, for one capture.
class Server {
 public:
  Server();
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  Result connect();
  // The server's sources, or nothing when the query fails.
  std::optional<std::vector<Source>> sources();
  // The default source's id, or nothing when there is none or the query fails.
  std::optional<std::string> defaultId();
  // The format of the named source; the empty id means the default source.
  std::optional<Format> format(const std::string& id);
  // Starts capturing the named source (empty: the default) in its format.
  // Handlers run on the event thread, one call at a time.
  Result startCapture(const std::string& id, const Format& format, BlockHandler onBlock,
                      LostHandler onLost);
  // Ends the capture and the event thread; no handler runs afterwards.
  void stop();

 private:
  std::unique_ptr<ServerState> state_;
};

}  // namespace kestrel::audio
