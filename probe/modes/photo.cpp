// kestrel-probe's photo mode, started by the front (probe/main.cpp) with its
// own arguments; the front has routed them already.
#include <string>
#include <vector>

#include "platform/base/fail.h"
#include "probe/front/routing.h"
#include "probe/photo/photo.h"

int main(int argc, char** argv) {
  using namespace kestrel;
  const Route r = route(std::vector<std::string>(argv, argv + argc));
  if (r.mode == Mode::Photo) runPhoto(r.input, r.output, r.size);
  fail(USAGE);
}
