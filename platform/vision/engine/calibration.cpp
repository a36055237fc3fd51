#include "platform/vision/engine/calibration.h"

#include <algorithm>

namespace kestrel::vision::engine {

void Calibration::beforeStep(const Program& program, const StepRec& s) {
  if (s.calibratesValue < 0) return;
  // The range that holds all but the outermost 1/10000 of the values at each
  // end: a few outliers would otherwise cost every other value its precision.
  const float* p = program.data(s.calibratesValue);
  std::vector<float> v(p, p + program.values[s.calibratesValue].desc.get_size() / sizeof(float));
  double squares = 0;
  for (float x : v) squares += static_cast<double>(x) * x;
  const size_t cut = v.size() / 10000;
  std::nth_element(v.begin(), v.begin() + cut, v.end());
  const float lo = v[cut];
  std::nth_element(v.begin(), v.end() - 1 - cut, v.end());
  const float hi = v[v.size() - 1 - cut];
  ValueRange& r = ranges_[s.calibrates];
  r.lo = r.runs ? std::min(r.lo, lo) : lo;
  r.hi = r.runs ? std::max(r.hi, hi) : hi;
  r.meanSquare = (r.meanSquare * r.runs + squares / static_cast<double>(v.size())) / (r.runs + 1);
  ++r.runs;
}

}  // namespace kestrel::vision::engine
