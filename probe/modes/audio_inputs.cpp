// kestrel-probe's "--audio-inputs": a module the front (probe/main.cpp) opens
// in its own process and enters with its arguments, routed already.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/base/fail.h"
#include "probe/audio/audio_inputs.h"
#include "probe/front/emit.h"
#include "probe/front/routing.h"

extern "C" [[gnu::visibility("default")]] void kestrel_mode_main(int argc, char** argv) {
  using namespace kestrel;
  const Route r = route(std::vector<std::string>(argv, argv + argc));
  if (r.mode != Mode::AudioInputs) fail(USAGE);
  emit(audioInputs());
  flushLines();
  std::exit(0);
}
