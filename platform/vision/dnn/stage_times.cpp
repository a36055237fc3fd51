#include "platform/vision/dnn/stage_times.h"

#include <mutex>

namespace kestrel::vision::dnn {
namespace {

std::mutex& lock() {
  static std::mutex m;
  return m;
}

std::map<std::string, StageTime>& totals() {
  static std::map<std::string, StageTime> t;
  return t;
}

}  // namespace

void addStageTime(const std::string& stage, double seconds) {
  const std::lock_guard guard(lock());
  StageTime& t = totals()[stage];
  t.seconds += seconds;
  ++t.calls;
}

std::map<std::string, StageTime> stageTimes() {
  const std::lock_guard guard(lock());
  return totals();
}

}  // namespace kestrel::vision::dnn
