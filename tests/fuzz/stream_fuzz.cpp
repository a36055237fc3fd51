// libFuzzer target: the cutout and person streams' frame reading and per-frame
// work, in process. The input picks the stream, its size and the scripted
// vision answers, then gives the bytes of standard input and where the reads
// split them (including interrupted reads). Every whole frame must come back
// as one header and one mask, a partial last frame as nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "probe/cutout/cutout_stream.h"
#include "probe/cutout/person_stream.h"
#include "tests/support/scripted_vision.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using namespace kestrel;

double anyDouble(FuzzedDataProvider& in) {
  // Mostly plain shares of the picture, sometimes any bit pattern at all.
  if (in.ConsumeBool()) return in.ConsumeFloatingPointInRange<double>(-0.5, 1.5);
  const uint64_t bits = in.ConsumeIntegral<uint64_t>();
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

vision::Rect anyRect(FuzzedDataProvider& in) {
  return {anyDouble(in), anyDouble(in), anyDouble(in), anyDouble(in)};
}

vision::Matte anyMatte(FuzzedDataProvider& in) {
  vision::Matte m;
  m.width = in.ConsumeIntegralInRange<int64_t>(0, 16);
  m.height = in.ConsumeIntegralInRange<int64_t>(0, 16);
  m.pixels = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 256));
  return m;
}

vision::InstanceObservation anyInstances(FuzzedDataProvider& in) {
  vision::InstanceObservation o;
  o.width = in.ConsumeIntegralInRange<int64_t>(0, 16);
  o.height = in.ConsumeIntegralInRange<int64_t>(0, 16);
  o.stride = o.width + in.ConsumeIntegralInRange<int64_t>(-1, 3);
  o.labels = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 300));
  bool present[256] = {};
  for (uint8_t l : o.labels) present[l] = true;
  for (int l = 1; l < 256; ++l)
    if (present[l]) o.allInstances.push_back(static_cast<uint8_t>(l));
  return o;
}

vision::Results anyCutoutResults(FuzzedDataProvider& in) {
  vision::Results r;
  for (int n = in.ConsumeIntegralInRange<int>(0, 2); n > 0; --n)
    r.faces.push_back({anyRect(in), in.ConsumeFloatingPoint<float>(), std::nullopt, std::nullopt});
  if (in.ConsumeBool()) r.instances.push_back(anyInstances(in));
  if (in.ConsumeBool()) r.persons.push_back(anyMatte(in));
  return r;
}

vision::Results anyHands(FuzzedDataProvider& in) {
  vision::Results r;
  for (int n = in.ConsumeIntegralInRange<int>(0, 2); n > 0; --n) {
    vision::HandObservation hand;
    hand.confidence = in.ConsumeFloatingPoint<float>();
    if (in.ConsumeBool()) {
      hand.joints.emplace();
      for (int j = in.ConsumeIntegralInRange<int>(0, 21); j > 0; --j)
        hand.joints->push_back({{anyDouble(in), anyDouble(in)}, in.ConsumeFloatingPoint<float>()});
    }
    r.hands.push_back(hand);
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool cutout = in.ConsumeBool();
  const int64_t width = in.ConsumeIntegralInRange<int64_t>(1, 12);
  const int64_t height = in.ConsumeIntegralInRange<int64_t>(1, 12);
  const size_t frameBytes = static_cast<size_t>(4 * width * height);

  test::ScriptedService service;
  if (cutout) {
    service.script.cutout = anyCutoutResults(in);
    service.script.hands = anyHands(in);
    service.script.failHands = in.ConsumeBool();
    service.script.failScaledMask = in.ConsumeBool();
  } else if (in.ConsumeBool()) {
    service.script.cutout.persons.push_back(anyMatte(in));
  }
  const bool heldOn = in.ConsumeBool();
  // The reader may go away after this many output bytes.
  const size_t outLimit = in.ConsumeBool() ? in.ConsumeIntegralInRange<size_t>(0, 4096) : SIZE_MAX;
  uint32_t split = in.ConsumeIntegral<uint32_t>();
  const std::vector<uint8_t> input = in.ConsumeRemainingBytes<uint8_t>();

  // Pieces of pseudo-random length from `split`; a zero-length piece is an
  // interrupted read.
  size_t at = 0;
  const ByteSource source = [&](uint8_t* dst, size_t want) -> ssize_t {
    kestrel::fuzz::check(want > 0 && want <= frameBytes);
    split = split * 1103515245u + 12345u;
    size_t piece = (split >> 16) % (frameBytes + 2);
    if (piece == 0 && at < input.size()) {
      errno = EINTR;
      return -1;
    }
    piece = std::min({piece, want, input.size() - at});
    if (piece > 0) std::memcpy(dst, input.data() + at, piece);
    at += piece;
    return static_cast<ssize_t>(piece);
  };
  std::vector<uint8_t> output;
  bool gone = false;
  const ByteSink sink = [&](const uint8_t* bytes, size_t n) {
    if (output.size() + n > outLimit) return gone = true, false;
    output.insert(output.end(), bytes, bytes + n);
    return true;
  };

  std::vector<uint8_t> pending;
  size_t frames = 0;
  const size_t frameOut = 32 + static_cast<size_t>(width * height);
  if (cutout) {
    CutoutStream stream = makeCutoutStream(width, height, heldOn);
    while (cutoutStep(stream, pending, service, source, sink)) {
      ++frames;
      // The frame analysed is the frame read, row for row.
      for (int64_t y = 0; y < height; ++y)
        kestrel::fuzz::check(std::memcmp(stream.frame.data() + y * stream.stride,
                          input.data() + (frames - 1) * frameBytes + y * 4 * width,
                          static_cast<size_t>(4 * width)) == 0);
    }
  } else {
    PersonStream stream = makePersonStream(width, height, vision::PersonQuality::Fast);
    while (personStep(stream, pending, service, source, sink)) ++frames;
    for (size_t f = 0; f < frames; ++f)
      for (size_t k = 0; k < 32; ++k) kestrel::fuzz::check(output[f * frameOut + k] == 0);
  }
  // Every whole frame answered (unless the reader went), nothing for a part.
  if (!gone) {
    kestrel::fuzz::check(frames == input.size() / frameBytes);
    kestrel::fuzz::check(at == input.size());
  }
  kestrel::fuzz::check(output.size() == frames * frameOut || (gone && output.size() <= outLimit));
  kestrel::fuzz::check(frames <= input.size() / frameBytes);
  return 0;
}
