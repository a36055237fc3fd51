#pragma once
// The benchmarks' figures: medians of wall times, so that a run disturbed by
// other work on the machine does not move them.
#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace kestrel::bench {

using Clock = std::chrono::steady_clock;

// Wall milliseconds since t0.
inline double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The middle value, the upper one of an even count; 0 of none.
inline double median(std::vector<double> values) {
  if (values.empty()) return 0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// The median wall milliseconds of `runs` calls of `work`.
inline double medianMs(int runs, const std::function<void()>& work) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = Clock::now();
    work();
    ms.push_back(msSince(t0));
  }
  return median(std::move(ms));
}

// The same after one call left out of the figure, which loads the models or
// allocates what the later calls reuse.
inline double warmMedianMs(int runs, const std::function<void()>& work) {
  work();
  return medianMs(runs, work);
}

}  // namespace kestrel::bench
