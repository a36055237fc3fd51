#pragma once
#include <string>

#include <opencv2/dnn.hpp>

namespace kestrel::vision::dnn {

// The path of a model file installed by the set-up: next to the executable
// (models/), in the build tree, or under the install prefix's share/.
// Throws std::runtime_error naming the file when it is not there.
std::string modelPath(const std::string& name);

// Loads an ONNX model once per process; later calls return the same network.
cv::dnn::Net& loadModel(const std::string& name);

}  // namespace kestrel::vision::dnn
