// kestrel-probe's video analysis, started by the front (probe/main.cpp) with
// its own arguments; the front has routed them already.
#include <string>
#include <vector>

#include "platform/base/fail.h"
#include "probe/analysis/video_analysis.h"
#include "probe/front/routing.h"

int main(int argc, char** argv) {
  using namespace kestrel;
  const Route r = route(std::vector<std::string>(argv, argv + argc));
  if (r.mode == Mode::Video) runVideoAnalysis(r.mediaPath, r.hz);
  fail(USAGE);
}
