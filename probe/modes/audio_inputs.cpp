// kestrel-probe's "--audio-inputs", started by the front (probe/main.cpp) with
// its own arguments; the front has routed them already.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/base/fail.h"
#include "probe/audio/audio_inputs.h"
#include "probe/front/emit.h"
#include "probe/front/routing.h"

int main(int argc, char** argv) {
  using namespace kestrel;
  const Route r = route(std::vector<std::string>(argv, argv + argc));
  if (r.mode != Mode::AudioInputs) fail(USAGE);
  emit(audioInputs());
  flushLines();
  std::exit(0);
}
