// kestrel-probe: routes the command line to one mode.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/base/fail.h"
#include "probe/analysis/video_analysis.h"
#include "probe/audio/audio_inputs.h"
#include "probe/audio/record.h"
#include "probe/cutout/cutout_stream.h"
#include "probe/cutout/gate_test.h"
#include "probe/cutout/person_stream.h"
#include "probe/front/emit.h"
#include "probe/front/routing.h"
#include "probe/photo/photo.h"

int main(int argc, char** argv) {
  using namespace kestrel;
  const std::vector<std::string> args(argv, argv + argc);
  const Route r = route(args);
  switch (r.mode) {
    case Mode::AudioInputs:
      emit(audioInputs());
      std::exit(0);
    case Mode::Record:
      runRecord(r.deviceId);
    case Mode::Cutout:
      runCutout(r.width, r.height);
    case Mode::GateTest:
      runGateTest(r.width, r.height);
    case Mode::Person:
      runPerson(r.width, r.height, r.qualityWord);
    case Mode::Photo:
      runPhoto(r.input, r.output, r.size);
    case Mode::Usage:
      fail(USAGE);
    case Mode::Video:
      runVideoAnalysis(r.mediaPath, r.hz);
  }
  return 0;
}
