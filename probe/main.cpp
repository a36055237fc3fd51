// kestrel-probe: routes the command line to one mode. Each mode runs as a
// program of its own from the installation's lib/kestrel/, started in this
// process's place with the same arguments, so that a run loads only the
// libraries its mode uses: a photo never maps oneDNN, OpenCV or FFmpeg, and the
// usage line maps none of them. Listing the microphones, all start, is a
// module opened in this process instead, sparing a second program's start.
#include <string>
#include <vector>

#include "platform/base/fail.h"
#include "probe/front/routing.h"
#include "probe/mode_program.h"

int main(int argc, char** argv) {
  using namespace kestrel;
  const Route r = route(std::vector<std::string>(argv, argv + argc));
  // No case breaks: fail, runModeProgram and runModeModule never return, so none falls into the next.
  switch (r.mode) {
    case Mode::Usage:
      fail(USAGE);
    case Mode::AudioInputs:
      runModeModule("kestrel-probe-audio-inputs", argc, argv);
    case Mode::Record:
      runModeProgram("kestrel-probe-record", argv);
    case Mode::Cutout:
    case Mode::GateTest:
    case Mode::Person:
      runModeProgram("kestrel-probe-cutout", argv, ModeMemory::Models);
    case Mode::Photo:
      runModeProgram("kestrel-probe-photo", argv);
    case Mode::Video:
      runModeProgram("kestrel-probe-analysis", argv, ModeMemory::Models);
  }
  return 0;
}
