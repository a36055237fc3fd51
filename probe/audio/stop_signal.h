#pragma once
#include <mutex>
#include <string>

namespace kestrel {

enum class Stop { InputEnded, OutputClosed, Lost };

// How a recording ends: its standard input ends, or the capture thread
// raises a stop (the reader closed the output, the server went away).
class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // From any thread; the first stop raised is the one kept.
  void raise(Stop reason, const std::string& message = {});
  // Reads and discards `input` until it ends or a stop is raised.
  Stop wait(int input);
  // The text that came with the stop raised, if any.
  std::string message() const;

 private:
  mutable std::mutex mutex_;
  bool raised_ = false;
  Stop reason_ = Stop::InputEnded;
  std::string message_;
  int wake_[2] = {-1, -1};
};

}  // namespace kestrel
