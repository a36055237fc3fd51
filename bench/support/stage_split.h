#pragma once
// The vision stages' time (each model's runs, picture conversions) spent
// since an earlier reading, for the benchmarks to split a frame's time.
#include <map>
#include <string>

#include "platform/vision/dnn/stage_times.h"

namespace kestrel::bench {

inline std::map<std::string, vision::dnn::StageTime> stagesSince(
    const std::map<std::string, vision::dnn::StageTime>& before) {
  std::map<std::string, vision::dnn::StageTime> stages = vision::dnn::stageTimes();
  for (const auto& [name, t] : before) {
    stages[name].seconds -= t.seconds;
    stages[name].calls -= t.calls;
  }
  return stages;
}

}  // namespace kestrel::bench
