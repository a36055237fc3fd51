#pragma once
// A file that a terminating signal (TERM, INT, HUP) removes before the process
// ends: the temporary file an output is written under, so that an interrupted
// run leaves nothing beside its output.
#include <string>

namespace kestrel {

class RemovedOnSignal {
 public:
  // Registers `path`; the first registration installs the handlers, for the
  // signals whose action is still the default (an ignored signal stays ignored).
  explicit RemovedOnSignal(const std::string& path);
  // Unregisters: the file is the caller's again.
  ~RemovedOnSignal();
  RemovedOnSignal(const RemovedOnSignal&) = delete;
  RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;

 private:
  int slot_ = -1;  // -1 when every slot was taken or the path too long
};

}  // namespace kestrel
