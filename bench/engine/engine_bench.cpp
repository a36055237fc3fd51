// Per model: OpenCV DNN's time, the executor's in float and, where the model
// step left an int8 side file, in int8, and ONNX Runtime's (float, two
// threads inside each operator) when the set-up installed it, all on the same
// inputs in the same run; the ratios and the GFLOP/s the executor reaches
// (two operations per multiply-accumulate of its convolutions and matrix
// products), median of the runs. OpenCV 4.6 reads Clip only with attribute
// bounds, so its copy of each model is rewritten that way first.
//   engine_bench [runs] [model...]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <onnx/onnx_pb.h>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/dnn.hpp>

#include "bench/engine/onnx_runtime.h"
#include "bench/support/median.h"
#include "platform/vision/dnn/model_files.h"
#include "platform/vision/engine/network.h"

namespace {

using kestrel::bench::medianMs;
using kestrel::bench::OnnxRuntime;
using kestrel::vision::engine::Network;

constexpr int kOrtThreads = 2;

const std::vector<std::string> kModels = {
    "blazeface_back_256.onnx", "facemesh.onnx", "iris.onnx", "palm_detection_full.onnx",
    "hand_landmark_full.onnx", "centernet.onnx", "person_meet.onnx", "person_selfie.onnx",
    "isnet_256.onnx", "rvm_640x360.onnx"};

// The model with every Clip's bounds moved from inputs to attributes.
std::string forOpenCv(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  onnx::ModelProto model;
  if (!model.ParseFromString(bytes)) return bytes;
  auto* graph = model.mutable_graph();
  auto scalar = [&](const std::string& name, float& out) {
    for (const auto& t : graph->initializer()) {
      if (t.name() != name) continue;
      if (t.float_data_size() > 0) out = t.float_data(0);
      else if (t.raw_data().size() >= 4) std::copy_n(t.raw_data().data(), 4, reinterpret_cast<char*>(&out));
      return true;
    }
    return false;
  };
  for (auto& node : *graph->mutable_node()) {
    if (node.op_type() != "Clip" || node.input_size() < 2) continue;
    const char* keys[] = {"", "min", "max"};
    for (int k = 1; k < node.input_size(); ++k) {
      float v;
      if (node.input(k).empty() || !scalar(node.input(k), v)) continue;
      auto* a = node.add_attribute();
      a->set_name(keys[k]);
      a->set_type(onnx::AttributeProto::FLOAT);
      a->set_f(v);
    }
    while (node.input_size() > 1) node.mutable_input()->RemoveLast();
  }
  for (auto& o : *model.mutable_opset_import())
    if (o.domain().empty() && o.version() > 11) o.set_version(11);
  return model.SerializeAsString();
}

// ONNX Runtime's median on the executor's inputs, ahead of it one run that
// sets its memory up; negative, with the reason in `why`, when it is not
// there or refuses the model. Its session, and the threads it spins, end
// before the next model is timed.
double ortMs(OnnxRuntime* ort, const std::string& model, Network& net, const std::vector<cv::Mat>& inputs,
             int runs, std::string& why) {
  if (!ort) return -1;
  try {
    auto session = ort->load(model, kOrtThreads);
    for (size_t k = 0; k < inputs.size(); ++k)
      session->bind(net.inputName(k), inputs[k].ptr<float>(), net.inputDims(k));
    session->run();
    return medianMs(runs, [&] { session->run(); });
  } catch (const std::runtime_error& e) {
    why = e.what();
    return -1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  std::vector<std::string> models(argv + std::min(argc, 2), argv + argc);
  if (models.empty()) models = kModels;
  std::string why;
  const std::unique_ptr<OnnxRuntime> ort = OnnxRuntime::open(KESTREL_ONNXRUNTIME, why);
  if (ort)
    std::printf("ONNX Runtime %s, %d threads inside each operator\n", ort->version().c_str(), kOrtThreads);
  else
    std::printf("ONNX Runtime not there (./setup installs it for the benchmarks): %s\n", why.c_str());
  std::printf("%-26s %9s %9s %9s %9s %7s %7s %7s %8s %7s  %s\n", "model", "opencv ms", "float ms", "int8 ms",
              "ort ms", "cv/flt", "flt/i8", "ort/flt", "GFLOP/s", "GMAC", "steps");
  for (const std::string& name : models) {
    std::string path;
    try {
      path = kestrel::vision::dnn::modelPath(name);
    } catch (const std::exception& e) {
      std::printf("%-26s missing\n", name.c_str());
      continue;
    }
    std::ifstream file(path, std::ios::binary);
    const std::string model((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto net = Network::fromBytes(model.data(), model.size(), name);
    std::unique_ptr<Network> int8;
    std::ifstream side(Network::int8Path(path));
    if (side) {
      const std::string text((std::istreambuf_iterator<char>(side)), std::istreambuf_iterator<char>());
      int8 = Network::fromBytes(model.data(), model.size(), name, text);
    }
    cv::RNG rng(7);
    std::vector<cv::Mat> inputs;
    for (size_t k = 0; k < net->inputCount(); ++k) {
      std::vector<int> dims(net->inputDims(k).begin(), net->inputDims(k).end());
      cv::Mat m(static_cast<int>(dims.size()), dims.data(), CV_32F);
      rng.fill(m, cv::RNG::UNIFORM, 0.0, 1.0);
      std::copy_n(m.ptr<float>(), m.total(), net->input(k));
      if (int8) std::copy_n(m.ptr<float>(), m.total(), int8->input(k));
      inputs.push_back(m);
    }
    const std::string bytes = forOpenCv(path);
    cv::dnn::Net reference = cv::dnn::readNetFromONNX(bytes.data(), bytes.size());
    std::vector<cv::String> outs;
    for (size_t k = 0; k < net->outputCount(); ++k) outs.push_back(net->outputName(k));
    auto opencv = [&] {
      for (size_t k = 0; k < inputs.size(); ++k) reference.setInput(inputs[k], net->inputName(k));
      std::vector<cv::Mat> o;
      reference.forward(o, outs);
    };
    auto engine = [&] { net->run(); };
    opencv();
    engine();
    const double cvMs = medianMs(runs, opencv);
    const double engineMs = medianMs(runs, engine);
    double int8Ms = 0;
    if (int8) {
      int8->run();
      int8Ms = medianMs(runs, [&] { int8->run(); });
    }
    std::string refused;
    const double onnxMs = ortMs(ort.get(), model, *net, inputs, runs, refused);
    const double fastest = int8 ? int8Ms : engineMs;
    std::printf("%-26s %9.2f %9.2f %9s %9s %6.2fx %6s %6s %8.1f %7.3f  %s\n", name.c_str(), cvMs, engineMs,
                int8 ? std::to_string(int8Ms).substr(0, 6).c_str() : "-",
                onnxMs >= 0 ? std::to_string(onnxMs).substr(0, 6).c_str() : "-", cvMs / engineMs,
                int8 ? (std::to_string(engineMs / int8Ms).substr(0, 4) + "x").c_str() : "-",
                onnxMs >= 0 ? (std::to_string(onnxMs / engineMs).substr(0, 4) + "x").c_str() : "-",
                2 * net->macs() / fastest / 1e6, net->macs() / 1e9, (int8 ? int8 : net)->summary().c_str());
    if (!refused.empty()) std::printf("    ONNX Runtime refused it: %s\n", refused.c_str());
    std::string split = "    time by step:";
    for (const auto& [kind, ms] : (int8 ? int8 : net)->profile()) split += " " + kind + " " + std::to_string(ms).substr(0, 5);
    std::printf("%s\n", split.c_str());
    std::fflush(stdout);
  }
  return 0;
}
