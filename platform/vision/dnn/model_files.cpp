#include "platform/vision/dnn/model_files.h"

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <chrono>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>

#include <memory>

namespace kestrel::vision::dnn {
namespace fs = std::filesystem;

namespace {

// KESTREL_MODELS when set; else share/kestrel/models of the installation the
// running program belongs to: two levels above lib/kestrel/ (kestrel-probe's
// modes, in the build tree as installed), one above any other folder (bin/).
// Never a folder fixed at build time, which an installed copy would read
// behind its owner's back.
fs::path modelFolder() {
  if (const char* named = std::getenv("KESTREL_MODELS"); named && *named) return named;
  std::error_code ec;
  fs::path dir = fs::read_symlink("/proc/self/exe", ec).parent_path();
  if (ec) return {};  // no folder rather than one under the current directory
  if (dir.filename() == "kestrel" && dir.parent_path().filename() == "lib") dir = dir.parent_path();
  return dir.parent_path() / "share" / "kestrel" / "models";
}

}  // namespace

std::string modelPath(const std::string& name) {
  const fs::path folder = modelFolder();
  const fs::path p = folder / name;
  if (!folder.empty() && ::access(p.c_str(), R_OK) == 0) return p.string();
  throw std::runtime_error("model file " + name + " is missing; run ./setup to install the models");
}

namespace {

using Loading = std::shared_future<std::shared_ptr<engine::Network>>;

std::shared_ptr<engine::Network> loadChecked(const std::string& name, const ModelContract& contract) {
  std::shared_ptr<engine::Network> net = engine::Network::load(modelPath(name), name);
  for (size_t k = 0; k < contract.inputs.size(); ++k) net->expectInput(k, contract.inputs[k]);
  for (const auto& [output, dims] : contract.outputs) net->expectOutput(output, dims);
  return net;
}

// Background loads asked for and not yet ended (waiting ones included).
std::atomic<int> queuedLoads{0};

// Loading passes the weights through several copies (ISNet's 176 MB four
// times): the last load gives the freed pages back rather than keep them for
// the run. One followed by another leaves them to it: made anew page by
// page, they took a third of a small model's load.
void trimUnlessMoreQueued() {
  if (queuedLoads.load() == 0) malloc_trim(0);
}

// Each model is loaded once per process, by the first thread that asks (or
// in the background); later askers wait for that load and share its outcome.
std::mutex loadsGuard;
std::map<std::string, Loading>& loads() {
  static std::map<std::string, Loading> all;
  return all;
}

// The loads that wait for the first picture (and those queued behind them),
// and what lets them start. Under loadsGuard.
struct LaterLoads {
  std::set<std::string> waiting;  // empty once started
  std::promise<void> start;
  std::shared_future<void> started = start.get_future().share();
  bool open = false;
};
LaterLoads& laterLoads() {
  static LaterLoads later;
  return later;
}

void startLaterLoadsLocked() {
  LaterLoads& later = laterLoads();
  if (later.open) return;
  later.open = true;
  later.waiting.clear();
  later.start.set_value();
}

}  // namespace

engine::Network& loadModel(const std::string& name, const ModelContract& contract) {
  std::promise<std::shared_ptr<engine::Network>> promise;
  Loading loading;
  bool mine = false;
  {
    const std::lock_guard<std::mutex> lock(loadsGuard);
    // A model asked for now cannot wait for the first picture to end.
    if (laterLoads().waiting.count(name)) startLaterLoadsLocked();
    auto it = loads().find(name);
    mine = it == loads().end();
    loading = mine ? loads().emplace(name, promise.get_future().share()).first->second : it->second;
  }
  if (mine) {
    try {
      promise.set_value(loadChecked(name, contract));
    } catch (...) {
      promise.set_exception(std::current_exception());
    }
    trimUnlessMoreQueued();
  }
  return *loading.get();  // a failed load throws its error to every asker
}

namespace {

// The loading threads, kept until the process ends.
std::vector<std::shared_future<void>>& background() {
  static std::vector<std::shared_future<void>> all;
  return all;
}

// Set as the process ends: the loads still waiting for the first picture are
// dropped rather than started.
std::atomic<bool> exiting{false};

// A load still under way when the process ends would go on while exit tears
// the libraries' statics down (oneDNN's among them), and crash. exit() runs
// the calling thread's thread_local destructors before any static one: a
// thread that starts a load waits for every load at its end.
struct LoadsAwaited {
  ~LoadsAwaited() {
    std::vector<std::shared_future<void>> loading;
    {
      const std::lock_guard<std::mutex> lock(loadsGuard);
      exiting = true;
      startLaterLoadsLocked();
      loading = background();
    }
    for (const auto& f : loading) f.wait();
  }
};

}  // namespace

void loadModelSoon(const std::string& name, const ModelContract& contract, LoadTurn turn) {
  thread_local LoadsAwaited awaited;
  (void)awaited;
  const std::lock_guard<std::mutex> lock(loadsGuard);
  if (loads().count(name)) return;
  std::packaged_task<std::shared_ptr<engine::Network>()> task([name, contract] { return loadChecked(name, contract); });
  loads().emplace(name, task.get_future().share());
  // One load after another: compiled side by side, a small model that was
  // asked for later took its turn before a large one the first frame needs.
  const std::shared_future<void> before = background().empty() ? std::shared_future<void>() : background().back();
  std::shared_future<void> start;
  // A load queued behind one that waits, waits too.
  LaterLoads& later = laterLoads();
  if (!later.open && (turn == LoadTurn::AfterFirstPicture || !later.waiting.empty())) {
    later.waiting.insert(name);
    start = later.started;
  }
  ++queuedLoads;
  background().push_back(std::async(std::launch::async, [task = std::move(task), before, start]() mutable {
                           if (before.valid()) before.wait();
                           if (start.valid()) start.wait();
                           const bool dropped = start.valid() && exiting;  // its askers see a broken promise
                           if (!dropped) task();
                           --queuedLoads;
                           if (!dropped) trimUnlessMoreQueued();
                         }).share());
}

void startLaterLoads() {
  const std::lock_guard<std::mutex> lock(loadsGuard);
  startLaterLoadsLocked();
}

bool modelLoaded(const std::string& name) {
  const std::lock_guard<std::mutex> lock(loadsGuard);
  auto it = loads().find(name);
  return it != loads().end() && it->second.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

}  // namespace kestrel::vision::dnn
