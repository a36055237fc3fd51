#pragma once
#include <string>
#include <utility>
#include <vector>

#include "platform/vision/engine/network.h"

namespace kestrel::vision::dnn {

// The path of a model file in the models folder: KESTREL_MODELS, else
// share/kestrel/models of the installation (or build tree) the program runs
// from. Throws std::runtime_error naming the file when it is not there.
std::string modelPath(const std::string& name);

// What a module reads of its model: the input's shape and each output's
// name and shape. A file that differs fails at load, never in a decoder.
struct ModelContract {
  std::vector<engine::Dims> inputs;
  std::vector<std::pair<std::string, engine::Dims>> outputs;
};

// Loads and compiles a model once per process, checking it against its
// contract; later calls return the same network. Safe from any thread.
engine::Network& loadModel(const std::string& name, const ModelContract& contract);

// When a background load may start: at once, or once the first picture has
// been analysed (startLaterLoads) or the model is asked for (loadModel),
// whichever comes first, so that what a stream's first frame does not need
// does not share the cores with its runs.
enum class LoadTurn { Now, AfterFirstPicture };
// Starts loading a model on a thread of its own, unless it is loaded or
// loading; loadModel then waits for it. Background loads run one after
// another in the order they were asked for. modelLoaded says whether it is
// ready (or its load failed, which loadModel then reports).
void loadModelSoon(const std::string& name, const ModelContract& contract, LoadTurn turn = LoadTurn::Now);
// Lets the loads that wait for the first picture start; later calls do nothing.
void startLaterLoads();
bool modelLoaded(const std::string& name);

}  // namespace kestrel::vision::dnn
