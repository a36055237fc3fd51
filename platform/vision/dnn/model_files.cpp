#include "platform/vision/dnn/model_files.h"

#include <unistd.h>

#include <filesystem>
#include <map>
#include <stdexcept>

#include <memory>

namespace kestrel::vision::dnn {
namespace fs = std::filesystem;

std::string modelPath(const std::string& name) {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  std::vector<fs::path> candidates;
  if (!ec) {
    fs::path dir = exe.parent_path();
    candidates = {dir / "models", dir.parent_path() / "models",
                  dir.parent_path() / "share" / "kestrel" / "models"};
  }
  candidates.push_back(KESTREL_MODEL_DIR);
  candidates.push_back(KESTREL_MODEL_INSTALL_DIR);
  for (const auto& dir : candidates) {
    fs::path p = dir / name;
    if (::access(p.c_str(), R_OK) == 0) return p.string();
  }
  throw std::runtime_error("model file " + name + " is missing; run ./setup to install the models");
}

engine::Network& loadModel(const std::string& name, const ModelContract& contract) {
  static std::map<std::string, std::unique_ptr<engine::Network>> loaded;
  auto it = loaded.find(name);
  if (it != loaded.end()) return *it->second;
  auto net = engine::Network::load(modelPath(name), name);
  for (size_t k = 0; k < contract.inputs.size(); ++k) net->expectInput(k, contract.inputs[k]);
  for (const auto& [output, dims] : contract.outputs) net->expectOutput(output, dims);
  return *loaded.emplace(name, std::move(net)).first->second;
}

}  // namespace kestrel::vision::dnn
