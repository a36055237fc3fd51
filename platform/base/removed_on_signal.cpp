#include "platform/base/removed_on_signal.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace kestrel {
namespace {

constexpr int kTerminating[] = {SIGTERM, SIGINT, SIGHUP};

// The handler may run on any thread at any moment, so it reads only fixed
// storage: a path is written before its slot is marked in use.
struct Slot {
  std::atomic<bool> taken{false};  // claimed by a registration
  std::atomic<bool> live{false};   // its path is complete and to be removed
  char path[PATH_MAX];
};
Slot slots[4];

void removeAndEnd(int sig) {
  for (Slot& s : slots)
    if (s.live.load()) ::unlink(s.path);
  ::signal(sig, SIG_DFL);
  ::raise(sig);  // delivered when the handler returns, with the default action
}

void installHandlers() {
  for (int sig : kTerminating) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = removeAndEnd;
    sigemptyset(&action.sa_mask);
    for (int other : kTerminating) sigaddset(&action.sa_mask, other);
    ::sigaction(sig, &action, nullptr);
  }
}

}  // namespace

RemovedOnSignal::RemovedOnSignal(const std::string& path) {
  static std::once_flag installed;
  std::call_once(installed, installHandlers);
  if (path.size() >= PATH_MAX) return;
  for (int i = 0; i < static_cast<int>(std::size(slots)); ++i) {
    if (slots[i].taken.exchange(true)) continue;
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    slots[i].live.store(true);
    slot_ = i;
    return;
  }
}

RemovedOnSignal::~RemovedOnSignal() {
  if (slot_ < 0) return;
  slots[slot_].live.store(false);
  slots[slot_].taken.store(false);
}

}  // namespace kestrel
