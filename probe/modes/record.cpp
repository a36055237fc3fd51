// kestrel-probe's "--record", started by the front (probe/main.cpp) with its
// own arguments; the front has routed them already.
#include <string>
#include <vector>

#include "platform/base/fail.h"
#include "probe/audio/record.h"
#include "probe/front/routing.h"

int main(int argc, char** argv) {
  using namespace kestrel;
  const Route r = route(std::vector<std::string>(argv, argv + argc));
  if (r.mode == Mode::Record) runRecord(r.deviceId);
  fail(USAGE);
}
