// The audio service on libpulse, driven by a threaded main loop. Every C
// callback here only copies values and wakes the waiting thread; the two that
// call back into the mode catch everything, so no exception crosses libpulse.
#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>
#include <pulse/utf8.h>

#include <cstdlib>
#include <utility>

#include "platform/audio/audio_service.h"
#include "platform/audio/pulse_handles.h"
#include "platform/audio/valid_text.h"

namespace kestrel::audio {
namespace {

constexpr const char* CLIENT_NAME = "kestrel-probe";
// Frames per captured block: small enough for a prompt start, large enough
// to keep the wake-ups few.
constexpr uint32_t BLOCK_FRAMES = 2048;
// How long the server may take over one exchange, the connection included: a
// server that accepts and then says nothing would otherwise hold the caller
// for libpulse's own 30 s.
constexpr pa_usec_t ANSWER_TIME = 3 * PA_USEC_PER_SEC;

std::string errorText(pa_context* c) {
  const char* text = pa_strerror(pa_context_errno(c));
  return text ? text : "unknown";
}

}  // namespace

void silenceAudio() {
  // libpulse prints its errors on standard error unless sent to the system log.
  setenv("PULSE_LOG", "0", 1);
  setenv("PULSE_LOG_SYSLOG", "1", 1);
}

class Deadline;

struct ServerState {
  MainloopHandle loop;
  ContextHandle context;
  StreamHandle stream;
  pa_channel_map map{};      // of the source whose format was read last
  std::string mapOf;         // that source's id
  bool mapValid = false;
  BlockHandler onBlock;
  LostHandler onLost;
  bool capturing = false;  // the stream was ready; a failure now is a loss
  bool lost = false;
  bool stopping = false;
  size_t frameBytes = 0;

  // Waits, with the lock held, until the operation has finished; false when
  // it did not (the connection failed or the deadline passed).
  bool await(pa_operation* op, const Deadline& deadline);

  void reportLost(std::string error) {
    if (!capturing || lost || stopping) return;
    lost = true;
    try {
      if (onLost) onLost(error);
    } catch (...) {
    }
  }
};

// Ends the waits of one exchange with the server after ANSWER_TIME. Made and
// dropped with the loop's lock held; without a timer the waits have no end
// but the library's own.
class Deadline {
 public:
  explicit Deadline(ServerState& s) : s_(s) {
    event_ = pa_context_rttime_new(s.context.get(), pa_rtclock_now() + ANSWER_TIME, fired, this);
  }
  ~Deadline() {
    if (event_) pa_threaded_mainloop_get_api(s_.loop.get())->time_free(event_);
  }
  Deadline(const Deadline&) = delete;
  Deadline& operator=(const Deadline&) = delete;

  bool passed() const { return passed_; }
  static std::string text() { return pa_strerror(PA_ERR_TIMEOUT); }

 private:
  static void fired(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user) {
    auto* d = static_cast<Deadline*>(user);
    d->passed_ = true;
    pa_threaded_mainloop_signal(d->s_.loop.get(), 0);
  }

  ServerState& s_;
  pa_time_event* event_ = nullptr;
  bool passed_ = false;
};

bool ServerState::await(pa_operation* op, const Deadline& deadline) {
  OperationHandle owned(op);
  if (!op) return false;
  while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) {
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context.get())) || deadline.passed()) return false;
    pa_threaded_mainloop_wait(loop.get());
  }
  return pa_operation_get_state(op) == PA_OPERATION_DONE;
}

namespace {

void contextChanged(pa_context* c, void* user) {
  auto* s = static_cast<ServerState*>(user);
  pa_context_state_t state = pa_context_get_state(c);
  if ((state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED))
    s->reportLost(errorText(c));
  pa_threaded_mainloop_signal(s->loop.get(), 0);
}

void streamChanged(pa_stream* stream, void* user) {
  auto* s = static_cast<ServerState*>(user);
  pa_stream_state_t state = pa_stream_get_state(stream);
  if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
    s->reportLost(errorText(pa_stream_get_context(stream)));
  pa_threaded_mainloop_signal(s->loop.get(), 0);
}

void streamReadable(pa_stream* stream, size_t, void* user) {
  auto* s = static_cast<ServerState*>(user);
  for (;;) {
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
    // A hole (no data but a length) is skipped; the next block follows on.
    if (data && !s->stopping && !s->lost && s->onBlock) {
      try {
        s->onBlock(static_cast<const float*>(data), bytes / s->frameBytes);
      } catch (...) {
      }
    }
    pa_stream_drop(stream);
  }
}

struct SourcesReply {
  ServerState* state;
  std::vector<Source> sources;
  bool failed = false;
};

void sourceListed(pa_context*, const pa_source_info* info, int eol, void* user) {
  auto* r = static_cast<SourcesReply*>(user);
  if (eol < 0) r->failed = true;
  if (eol != 0 || !info) {
    pa_threaded_mainloop_signal(r->state->loop.get(), 0);
    return;
  }
  // A name that is not UTF-8 could not be written out and asked for again.
  if (!info->name || !pa_utf8_valid(info->name)) return;
  try {
    Source src;
    src.id = info->name;
    if (info->description) src.name = validText(info->description);
    src.channels = info->sample_spec.channels;
    src.monitor = info->monitor_of_sink != PA_INVALID_INDEX;
    r->sources.push_back(std::move(src));
  } catch (...) {
    r->failed = true;
  }
}

struct DefaultReply {
  ServerState* state;
  std::optional<std::string> id;
};

void serverDescribed(pa_context*, const pa_server_info* info, void* user) {
  auto* r = static_cast<DefaultReply*>(user);
  try {
    if (info && info->default_source_name && *info->default_source_name)
      r->id = std::string(info->default_source_name);
  } catch (...) {
  }
  pa_threaded_mainloop_signal(r->state->loop.get(), 0);
}

struct FormatReply {
  ServerState* state;
  std::optional<Format> format;
  pa_channel_map map{};
  bool done = false;
};

void sourceDescribed(pa_context*, const pa_source_info* info, int eol, void* user) {
  auto* r = static_cast<FormatReply*>(user);
  if (eol == 0 && info && !r->format) {
    r->format = Format{info->sample_spec.rate, info->sample_spec.channels};
    r->map = info->channel_map;
  }
  if (eol != 0) pa_threaded_mainloop_signal(r->state->loop.get(), 0);
}

std::optional<std::string> defaultSource(ServerState& s, const Deadline& deadline) {
  DefaultReply reply{&s, {}};
  if (!s.await(pa_context_get_server_info(s.context.get(), serverDescribed, &reply), deadline))
    return std::nullopt;
  return reply.id;
}

}  // namespace

Server::Server() : state_(std::make_unique<ServerState>()) {}

Server::~Server() { stop(); }

Result Server::connect() {
  ServerState& s = *state_;
  s.loop.reset(pa_threaded_mainloop_new());
  if (!s.loop) return {Outcome::Failed, "out of memory"};
  s.context.reset(pa_context_new(pa_threaded_mainloop_get_api(s.loop.get()), CLIENT_NAME));
  if (!s.context) return {Outcome::Failed, "out of memory"};
  pa_context_set_state_callback(s.context.get(), contextChanged, &s);
  // Never start a server of our own: no server means no devices.
  if (pa_context_connect(s.context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
    return {Outcome::Failed, errorText(s.context.get())};
  if (pa_threaded_mainloop_start(s.loop.get()) < 0) return {Outcome::Failed, "can't start a thread"};

  LoopLock lock(s.loop.get());
  Deadline deadline(s);
  for (;;) {
    pa_context_state_t state = pa_context_get_state(s.context.get());
    if (state == PA_CONTEXT_READY) return {};
    if (!PA_CONTEXT_IS_GOOD(state)) {
      int code = pa_context_errno(s.context.get());
      return {code == PA_ERR_ACCESS ? Outcome::AccessDenied : Outcome::Failed, errorText(s.context.get())};
    }
    if (deadline.passed()) return {Outcome::Failed, Deadline::text()};
    pa_threaded_mainloop_wait(s.loop.get());
  }
}

std::optional<std::vector<Source>> Server::sources() {
  ServerState& s = *state_;
  if (!s.context) return std::nullopt;
  LoopLock lock(s.loop.get());
  Deadline deadline(s);
  SourcesReply reply{&s, {}};
  pa_operation* op = pa_context_get_source_info_list(s.context.get(), sourceListed, &reply);
  if (!s.await(op, deadline) || reply.failed || pa_context_get_state(s.context.get()) != PA_CONTEXT_READY)
    return std::nullopt;
  return std::move(reply.sources);
}

std::optional<Format> Server::format(const std::string& id) {
  ServerState& s = *state_;
  if (!s.context) return std::nullopt;
  LoopLock lock(s.loop.get());
  Deadline deadline(s);
  std::string name = id;
  if (name.empty()) {
    auto fallback = defaultSource(s, deadline);
    if (!fallback) return std::nullopt;
    name = *fallback;
  }
  FormatReply reply{&s, {}};
  if (!s.await(pa_context_get_source_info_by_name(s.context.get(), name.c_str(), sourceDescribed, &reply),
               deadline) ||
      !reply.format)
    return std::nullopt;
  s.map = reply.map;
  s.mapOf = id;
  s.mapValid = pa_channel_map_valid(&reply.map) && reply.map.channels == reply.format->channels;
  return reply.format;
}

Result Server::startCapture(const std::string& id, const Format& format, BlockHandler onBlock,
                            LostHandler onLost) {
  ServerState& s = *state_;
  if (!s.context) return {Outcome::Failed, "not connected"};
  pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, format.sampleRate, static_cast<uint8_t>(format.channels)};
  if (format.channels > PA_CHANNELS_MAX || !pa_sample_spec_valid(&sampleFormat))
    return {Outcome::Failed, pa_strerror(PA_ERR_INVALID)};
  // The source's own channel map, so that no channel is remixed on the way.
  pa_channel_map map;
  const pa_channel_map* mapUsed = nullptr;
  if (s.mapValid && s.mapOf == id && s.map.channels == sampleFormat.channels) {
    map = s.map;
    mapUsed = &map;
  } else if (pa_channel_map_init_extend(&map, sampleFormat.channels, PA_CHANNEL_MAP_AUX)) {
    mapUsed = &map;
  }

  LoopLock lock(s.loop.get());
  s.stream.reset(pa_stream_new(s.context.get(), "recording", &sampleFormat, mapUsed));
  if (!s.stream) return {Outcome::Failed, errorText(s.context.get())};
  s.frameBytes = pa_frame_size(&sampleFormat);
  s.onBlock = std::move(onBlock);
  s.onLost = std::move(onLost);
  pa_stream_set_state_callback(s.stream.get(), streamChanged, &s);
  pa_stream_set_read_callback(s.stream.get(), streamReadable, &s);

  pa_buffer_attr attr;
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
  attr.fragsize = static_cast<uint32_t>(BLOCK_FRAMES * s.frameBytes);
  auto flags = static_cast<pa_stream_flags_t>(
      PA_STREAM_ADJUST_LATENCY | (id.empty() ? 0 : PA_STREAM_DONT_MOVE));
  if (pa_stream_connect_record(s.stream.get(), id.empty() ? nullptr : id.c_str(), &attr, flags) < 0)
    return {Outcome::Failed, errorText(s.context.get())};

  Deadline deadline(s);
  for (;;) {
    pa_stream_state_t state = pa_stream_get_state(s.stream.get());
    if (state == PA_STREAM_READY) {
      s.capturing = true;
      return {};
    }
    if (!PA_STREAM_IS_GOOD(state)) {
      int code = pa_context_errno(s.context.get());
      std::string text = errorText(s.context.get());
      s.stream.reset();
      if (code == PA_ERR_ACCESS) return {Outcome::AccessDenied, text};
      if (code == PA_ERR_NOENTITY) return {Outcome::NoSource, text};
      return {Outcome::Failed, text};
    }
    if (deadline.passed()) {
      s.stream.reset();
      return {Outcome::Failed, Deadline::text()};
    }
    pa_threaded_mainloop_wait(s.loop.get());
  }
}

void Server::stop() {
  ServerState& s = *state_;
  if (!s.loop) return;
  {
    LoopLock lock(s.loop.get());
    s.stopping = true;
  }
  pa_threaded_mainloop_stop(s.loop.get());
  s.stream.reset();
  s.context.reset();
  s.loop.reset();
}

std::optional<std::string> Server::defaultId() {
  ServerState& s = *state_;
  if (!s.context) return std::nullopt;
  LoopLock lock(s.loop.get());
  Deadline deadline(s);
  return defaultSource(s, deadline);
}

SourceList listSources() {
  Server server;
  SourceList list;
  if (!server.connect().ok()) return list;
  auto sources = server.sources();
  if (!sources) return list;
  list.sources = std::move(*sources);
  list.defaultId = server.defaultId();
  return list;
}

}  // namespace kestrel::audio
