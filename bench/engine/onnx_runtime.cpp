// onnxruntime-node ships the library without its header, so the few entries
// used are declared here where the C API (onnxruntime_c_api.h) places them in
// its table of functions. All are of the API's first version, and the table
// only ever grows at its end: version 1 is asked for, and holds for the
// runtime the set-up pins (1.31.1) as for any later one.
#include "bench/engine/onnx_runtime.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <utility>

extern "C" {
struct OrtEnv;
struct OrtStatus;
struct OrtMemoryInfo;
struct OrtSession;
struct OrtValue;
struct OrtRunOptions;
struct OrtSessionOptions;
struct OrtAllocator;
}

namespace kestrel::bench {
namespace {

using Status = OrtStatus*;

// The table by position; slotsA_B stand for the entries not used.
struct OrtApi {
  void* slots0_1[2];
  const char* (*GetErrorMessage)(const OrtStatus*);
  Status (*CreateEnv)(int level, const char* logId, OrtEnv** out);
  void* slots4_7[4];
  Status (*CreateSessionFromArray)(const OrtEnv*, const void* bytes, size_t size, const OrtSessionOptions*,
                                   OrtSession** out);
  Status (*Run)(OrtSession*, const OrtRunOptions*, const char* const* inputNames, const OrtValue* const* inputs,
                size_t inputCount, const char* const* outputNames, size_t outputCount, OrtValue** outputs);
  Status (*CreateSessionOptions)(OrtSessionOptions** out);
  void* slots11_22[12];
  Status (*SetSessionGraphOptimizationLevel)(OrtSessionOptions*, int level);
  Status (*SetIntraOpNumThreads)(OrtSessionOptions*, int threads);
  Status (*SetInterOpNumThreads)(OrtSessionOptions*, int threads);
  void* slots26_29[4];
  Status (*SessionGetInputCount)(const OrtSession*, size_t* out);
  Status (*SessionGetOutputCount)(const OrtSession*, size_t* out);
  void* slots32_35[4];
  Status (*SessionGetInputName)(const OrtSession*, size_t index, OrtAllocator*, char** out);
  Status (*SessionGetOutputName)(const OrtSession*, size_t index, OrtAllocator*, char** out);
  void* slots38_48[11];
  Status (*CreateTensorWithDataAsOrtValue)(const OrtMemoryInfo*, void* data, size_t bytes, const int64_t* shape,
                                           size_t rank, int elementType, OrtValue** out);
  void* slots50_68[19];
  Status (*CreateCpuMemoryInfo)(int allocatorType, int memoryType, OrtMemoryInfo** out);
  void* slots70_75[6];
  Status (*AllocatorFree)(OrtAllocator*, void* p);
  void* slot77;
  Status (*GetAllocatorWithDefaultOptions)(OrtAllocator** out);
  void* slots79_91[13];
  void (*ReleaseEnv)(OrtEnv*);
  void (*ReleaseStatus)(OrtStatus*);
  void (*ReleaseMemoryInfo)(OrtMemoryInfo*);
  void (*ReleaseSession)(OrtSession*);
  void (*ReleaseValue)(OrtValue*);
  void* slots97_99[3];
  void (*ReleaseSessionOptions)(OrtSessionOptions*);
};
constexpr size_t slot(size_t k) { return k * sizeof(void*); }
static_assert(offsetof(OrtApi, CreateSessionFromArray) == slot(8));
static_assert(offsetof(OrtApi, SetSessionGraphOptimizationLevel) == slot(23));
static_assert(offsetof(OrtApi, SessionGetInputCount) == slot(30));
static_assert(offsetof(OrtApi, CreateTensorWithDataAsOrtValue) == slot(49));
static_assert(offsetof(OrtApi, CreateCpuMemoryInfo) == slot(69));
static_assert(offsetof(OrtApi, ReleaseEnv) == slot(92));
static_assert(offsetof(OrtApi, ReleaseSessionOptions) == slot(100));

struct OrtApiBase {
  const OrtApi* (*GetApi)(uint32_t version);
  const char* (*GetVersionString)();
};

// The C API's constants used here.
constexpr int kLogErrors = 3;          // ORT_LOGGING_LEVEL_ERROR
constexpr int kAllOptimizations = 99;  // ORT_ENABLE_ALL
constexpr int kArenaAllocator = 1;     // OrtArenaAllocator
constexpr int kDefaultMemory = 0;      // OrtMemTypeDefault
constexpr int kFloat = 1;              // ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT

template <typename T>
using Handle = std::unique_ptr<T, void (*)(T*)>;

}  // namespace

// The library stays loaded to the process's end: ONNX Runtime's thread pools
// and statics are not made to be unloaded.
struct OrtLibrary {
  const OrtApiBase* base = nullptr;
  const OrtApi* api = nullptr;
  Handle<OrtEnv> env{nullptr, nullptr};
  Handle<OrtMemoryInfo> cpu{nullptr, nullptr};

  void check(Status status) const {
    if (!status) return;
    std::string message = api->GetErrorMessage(status);
    api->ReleaseStatus(status);
    throw std::runtime_error(message);
  }
};

struct OrtModelState {
  std::shared_ptr<OrtLibrary> library;
  Handle<OrtSession> session{nullptr, nullptr};
  std::vector<std::string> inputs, outputs;
  std::vector<Handle<OrtValue>> bound;  // by input
};

namespace {

// The session's input or output names, in its order.
std::vector<std::string> namesOf(const OrtLibrary& l, const OrtSession* session, bool inputs) {
  const OrtApi& api = *l.api;
  OrtAllocator* allocator = nullptr;
  l.check(api.GetAllocatorWithDefaultOptions(&allocator));
  size_t count = 0;
  l.check((inputs ? api.SessionGetInputCount : api.SessionGetOutputCount)(session, &count));
  std::vector<std::string> names;
  for (size_t k = 0; k < count; ++k) {
    char* name = nullptr;
    l.check((inputs ? api.SessionGetInputName : api.SessionGetOutputName)(session, k, allocator, &name));
    names.emplace_back(name);
    l.check(api.AllocatorFree(allocator, name));
  }
  return names;
}

}  // namespace

std::unique_ptr<OnnxRuntime> OnnxRuntime::open(const std::string& path, std::string& why) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    why = ::dlerror();
    return nullptr;
  }
  auto entry = reinterpret_cast<const OrtApiBase* (*)()>(::dlsym(handle, "OrtGetApiBase"));
  auto library = std::make_shared<OrtLibrary>();
  library->base = entry ? entry() : nullptr;
  library->api = library->base ? library->base->GetApi(1) : nullptr;
  if (!library->api) {
    why = "no C API in " + path;
    return nullptr;
  }
  try {
    const OrtApi& api = *library->api;
    OrtEnv* env = nullptr;
    library->check(api.CreateEnv(kLogErrors, "engine_bench", &env));
    library->env = Handle<OrtEnv>(env, api.ReleaseEnv);
    OrtMemoryInfo* cpu = nullptr;
    library->check(api.CreateCpuMemoryInfo(kArenaAllocator, kDefaultMemory, &cpu));
    library->cpu = Handle<OrtMemoryInfo>(cpu, api.ReleaseMemoryInfo);
  } catch (const std::runtime_error& e) {
    why = e.what();
    return nullptr;
  }
  return std::unique_ptr<OnnxRuntime>(new OnnxRuntime(std::move(library)));
}

OnnxRuntime::OnnxRuntime(std::shared_ptr<OrtLibrary> library) : library_(std::move(library)) {}
OnnxRuntime::~OnnxRuntime() = default;

std::string OnnxRuntime::version() const { return library_->base->GetVersionString(); }

std::unique_ptr<OrtModel> OnnxRuntime::load(const std::string& bytes, int threads) {
  const OrtLibrary& l = *library_;
  const OrtApi& api = *l.api;
  OrtSessionOptions* raw = nullptr;
  l.check(api.CreateSessionOptions(&raw));
  const Handle<OrtSessionOptions> options(raw, api.ReleaseSessionOptions);
  l.check(api.SetSessionGraphOptimizationLevel(options.get(), kAllOptimizations));
  l.check(api.SetIntraOpNumThreads(options.get(), threads));
  l.check(api.SetInterOpNumThreads(options.get(), 1));
  OrtSession* session = nullptr;
  l.check(api.CreateSessionFromArray(l.env.get(), bytes.data(), bytes.size(), options.get(), &session));
  auto s = std::make_unique<OrtModelState>();
  s->library = library_;
  s->session = Handle<OrtSession>(session, api.ReleaseSession);
  s->inputs = namesOf(l, session, true);
  s->outputs = namesOf(l, session, false);
  for (size_t k = 0; k < s->inputs.size(); ++k) s->bound.emplace_back(nullptr, api.ReleaseValue);
  return std::unique_ptr<OrtModel>(new OrtModel(std::move(s)));
}

OrtModel::OrtModel(std::unique_ptr<OrtModelState> s) : s_(std::move(s)) {}
OrtModel::~OrtModel() = default;

const std::vector<std::string>& OrtModel::inputNames() const { return s_->inputs; }

void OrtModel::bind(const std::string& name, const float* data, const std::vector<int64_t>& dims) {
  const OrtLibrary& l = *s_->library;
  const auto at = std::find(s_->inputs.begin(), s_->inputs.end(), name);
  if (at == s_->inputs.end()) throw std::runtime_error("no input " + name);
  int64_t count = 1;
  for (int64_t d : dims) count *= d;
  OrtValue* value = nullptr;
  // The runtime only reads inputs; its API takes the buffer as writable.
  l.check(l.api->CreateTensorWithDataAsOrtValue(l.cpu.get(), const_cast<float*>(data), count * sizeof(float),
                                                dims.data(), dims.size(), kFloat, &value));
  s_->bound[static_cast<size_t>(at - s_->inputs.begin())] = Handle<OrtValue>(value, l.api->ReleaseValue);
}

void OrtModel::run() {
  const OrtLibrary& l = *s_->library;
  std::vector<const char*> inputNames, outputNames;
  std::vector<const OrtValue*> inputs;
  for (size_t k = 0; k < s_->inputs.size(); ++k) {
    if (!s_->bound[k]) throw std::runtime_error("input " + s_->inputs[k] + " not given");
    inputNames.push_back(s_->inputs[k].c_str());
    inputs.push_back(s_->bound[k].get());
  }
  for (const std::string& name : s_->outputs) outputNames.push_back(name.c_str());
  std::vector<OrtValue*> outputs(outputNames.size(), nullptr);
  const Status status = l.api->Run(s_->session.get(), nullptr, inputNames.data(), inputs.data(), inputs.size(),
                                   outputNames.data(), outputNames.size(), outputs.data());
  for (OrtValue* v : outputs) l.api->ReleaseValue(v);
  l.check(status);
}

}  // namespace kestrel::bench
