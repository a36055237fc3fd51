#pragma once
// Calibration for int8, as an observer of runs: before each convolution
// that int8 could take, the range its float input took so far widens.
#include "platform/vision/engine/network.h"
#include "platform/vision/engine/program.h"

namespace kestrel::vision::engine {

class Calibration : public RunObserver {
 public:
  void beforeStep(const Program& program, const StepRec& step) override;
  const std::map<std::string, ValueRange>& ranges() const { return ranges_; }

 private:
  std::map<std::string, ValueRange> ranges_;
};

}  // namespace kestrel::vision::engine
