#pragma once
// Time spent in each stage of the vision work (each model's runs, picture
// conversions), summed over the process, for the benchmarks to split a
// frame's time. Nothing is written anywhere.
#include <chrono>
#include <map>
#include <string>

namespace kestrel::vision::dnn {

struct StageTime {
  double seconds = 0;
  long calls = 0;
};

void addStageTime(const std::string& stage, double seconds);
std::map<std::string, StageTime> stageTimes();

// Adds the time from its making to its end to a stage.
class StageTimer {
 public:
  explicit StageTimer(const char* stage) : stage_(stage), start_(std::chrono::steady_clock::now()) {}
  ~StageTimer() {
    addStageTime(stage_, std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count());
  }
  StageTimer(const StageTimer&) = delete;
  StageTimer& operator=(const StageTimer&) = delete;

 private:
  const char* stage_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace kestrel::vision::dnn
