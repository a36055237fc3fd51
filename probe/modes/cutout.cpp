// kestrel-probe's stream modes (cutout, person mattes, the gate self-test),
// started by the front (probe/main.cpp) with their own arguments; the front
// has routed them already.
#include <string>
#include <vector>

#include "platform/base/fail.h"
#include "probe/cutout/cutout_stream.h"
#include "probe/cutout/gate_test.h"
#include "probe/cutout/person_stream.h"
#include "probe/front/routing.h"

int main(int argc, char** argv) {
  using namespace kestrel;
  const Route r = route(std::vector<std::string>(argv, argv + argc));
  if (r.mode == Mode::Cutout) runCutout(r.width, r.height);
  if (r.mode == Mode::GateTest) runGateTest(r.width, r.height);
  if (r.mode == Mode::Person) runPerson(r.width, r.height, r.qualityWord);
  fail(USAGE);
}
