#pragma once
// ONNX Runtime as the executor's peer in the engine benchmark, opened at run
// time from the library the set-up installs for the benchmarks (the C API of
// the npm package onnxruntime-node); no program links it.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrel::bench {

struct OrtLibrary;
struct OrtModelState;

// One model in a session of its own; inputs are bound by name to float
// buffers that must outlive it. Errors throw std::runtime_error with
// ONNX Runtime's message.
class OrtModel {
 public:
  ~OrtModel();
  OrtModel(const OrtModel&) = delete;
  OrtModel& operator=(const OrtModel&) = delete;

  const std::vector<std::string>& inputNames() const;
  void bind(const std::string& name, const float* data, const std::vector<int64_t>& dims);
  // One run of every output, bound or not: a missing input fails here.
  void run();

 private:
  friend class OnnxRuntime;
  explicit OrtModel(std::unique_ptr<OrtModelState> s);
  std::unique_ptr<OrtModelState> s_;
};

class OnnxRuntime {
 public:
  // The runtime in the library at `path`; nothing when it is not there or
  // does not start, with the reason in `why`.
  static std::unique_ptr<OnnxRuntime> open(const std::string& path, std::string& why);
  ~OnnxRuntime();
  OnnxRuntime(const OnnxRuntime&) = delete;
  OnnxRuntime& operator=(const OnnxRuntime&) = delete;

  std::string version() const;
  // A session of the model's bytes with every graph optimization and
  // `threads` threads inside each operator, one between them.
  std::unique_ptr<OrtModel> load(const std::string& bytes, int threads);

 private:
  explicit OnnxRuntime(std::shared_ptr<OrtLibrary> library);
  std::shared_ptr<OrtLibrary> library_;
};

}  // namespace kestrel::bench
