#include "platform/vision/dnn/model_files.h"

#include <unistd.h>

#include <filesystem>
#include <map>
#include <stdexcept>

#include <opencv2/core/utils/logger.hpp>

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

cv::dnn::Net& loadModel(const std::string& name) {
  static std::map<std::string, cv::dnn::Net> loaded;
  auto it = loaded.find(name);
  if (it != loaded.end()) return it->second;
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  const std::string path = modelPath(name);
  cv::dnn::Net net;
  try {
    net = cv::dnn::readNetFromONNX(path);
  } catch (const cv::Exception&) {
    throw std::runtime_error("model file " + path + " can't be read; run ./setup to install it again");
  }
  if (net.empty())
    throw std::runtime_error("model file " + path + " can't be read; run ./setup to install it again");
  return loaded.emplace(name, std::move(net)).first->second;
}

}  // namespace kestrel::vision::dnn
