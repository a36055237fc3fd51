#include "probe/audio/record.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <optional>

#include "platform/audio/audio_service.h"
#include "platform/audio/mono_resampler.h"
#include "platform/base/fail.h"
#include "platform/base/write_all.h"
#include "probe/audio/pcm_writer.h"
#include "probe/audio/stop_signal.h"

namespace kestrel {
namespace {

constexpr const char* kNoFormat = "the microphone has no usable format";

[[noreturn]] void accessDenied() {
  static const char text[] = "microphone access denied\n";
  writeAll(STDERR_FILENO, text, sizeof text - 1);
  std::_Exit(3);
}

bool hasSource(const std::vector<audio::Source>& sources, const std::string& id) {
  for (const auto& source : sources)
    if (source.id == id) return true;
  return false;
}

}  // namespace

void runRecord(const std::string& deviceId) {
  audio::silenceAudio();
  // A reader that closes the output ends the recording, not the process.
  std::signal(SIGPIPE, SIG_IGN);

  Stop stop;
  StopSignal stopSignal;
  {
    audio::Server server;
    audio::Result connected = server.connect();
    if (connected.outcome == audio::Outcome::AccessDenied) accessDenied();
    if (!connected.ok()) fail("can't start the microphone: " + connected.error);

    if (!deviceId.empty()) {
      auto sources = server.sources();
      if (!sources || !hasSource(*sources, deviceId)) fail("no microphone " + deviceId);
    }

    std::optional<audio::Format> format = server.format(deviceId);
    if (!format || format->sampleRate == 0 || format->channels == 0) fail(kNoFormat);
    std::optional<audio::MonoResampler> resampler =
        audio::MonoResampler::make(format->sampleRate, format->channels);
    if (!resampler) fail(kNoFormat);

    PcmWriter writer(*resampler, format->sampleRate, STDOUT_FILENO, [&](int error) {
      if (error != EPIPE) fail(cantWriteOutput(error));
      stopSignal.raise(Stop::OutputClosed);
    });
    if (!writer.started()) fail("can't start the microphone: can't start a thread");
    audio::Result started = server.startCapture(
        deviceId, *format,
        [&](const float* frames, size_t count) {
          if (!writer.write(frames, count)) stopSignal.raise(Stop::OutputClosed);
        },
        [&](const std::string& error) { stopSignal.raise(Stop::Lost, error); });
    if (started.outcome == audio::Outcome::AccessDenied) accessDenied();
    if (started.outcome == audio::Outcome::NoSource) fail("can't use the microphone " + deviceId);
    if (!started.ok()) fail("can't start the microphone: " + started.error);

    stop = stopSignal.wait(STDIN_FILENO);
    // Nothing captured from here on is kept; what was is still written out.
    writer.stop();
    server.stop();
    writer.finish();
  }
  if (stop == Stop::Lost) fail("recording stopped: " + stopSignal.message());
  std::exit(0);
}

}  // namespace kestrel
