#include "probe/front/routing.h"

#include "platform/base/integer.h"

namespace kestrel {
namespace {

// Width and height for the stream modes: both parse and both are at least 1.
bool frameSize(const std::vector<std::string>& args, Route& r) {
  auto w = parseInteger(args[2]);
  auto h = parseInteger(args[3]);
  if (!w || !h || *w < 1 || *h < 1) return false;
  r.width = *w;
  r.height = *h;
  return true;
}

}  // namespace

Route route(const std::vector<std::string>& args) {
  const size_t count = args.size();
  Route r;
  const std::string first = count >= 2 ? args[1] : std::string();

  if (count >= 2 && first == "--audio-inputs") {
    r.mode = Mode::AudioInputs;
    return r;
  }
  if (count >= 3 && first == "--record") {
    r.mode = Mode::Record;
    r.deviceId = args[2];
    return r;
  }
  if (count >= 4 && first == "--cutout" && frameSize(args, r)) {
    r.mode = Mode::Cutout;
    return r;
  }
  if (count >= 4 && first == "--gate-test" && frameSize(args, r)) {
    r.mode = Mode::GateTest;
    return r;
  }
  if (count >= 5 && first == "--person" && frameSize(args, r)) {
    r.mode = Mode::Person;
    r.qualityWord = args[4];
    return r;
  }
  if (count >= 5 && first == "--photo") {
    auto n = parseInteger(args[4]);
    if (n && *n >= 1) {
      r.mode = Mode::Photo;
      r.input = args[2];
      r.output = args[3];
      r.size = *n;
      return r;
    }
  }
  if (count < 2) {
    r.mode = Mode::Usage;
    return r;
  }

  r = Route{};
  r.mode = Mode::Video;
  r.mediaPath = first;
  r.hz = 5;
  if (count > 2) {
    if (auto v = parseInteger(args[2])) r.hz = *v > 1 ? *v : 1;
  }
  return r;
}

}  // namespace kestrel
