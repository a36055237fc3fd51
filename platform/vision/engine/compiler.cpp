#include "platform/vision/engine/compiler.h"

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/vision/engine/arena.h"

namespace kestrel::vision::engine {

void refuseNode(const Node& node, const std::string& why) { throw ModelError(node.where() + ": " + why); }

Builder::Builder(const Plan& plan, Compiled& out) : plan_(plan), out_(out) {
  for (const Node& n : plan.nodes)
    for (const std::string& i : n.inputs)
      if (!i.empty()) {
        ++readers_[i];
        auto& list = readerNodes_[i];
        if (std::find(list.begin(), list.end(), &n) == list.end()) list.push_back(&n);
      }
  for (const std::string& o : plan.outputs) {
    ++readers_[o];
    outputs_.insert(o);
  }
}

memory::desc Builder::plainDesc(const Dims& dims) {
  if (dims.empty()) return memory::desc({1}, memory::data_type::f32, memory::dims{1});
  memory::dims strides(dims.size(), 1);
  for (size_t k = dims.size(); k-- > 1;) strides[k - 1] = strides[k] * dims[k];
  return memory::desc(dims, memory::data_type::f32, strides);
}

int Builder::newValue(const Dims& dims, const memory::desc& desc) {
  BufferRec buffer;
  buffer.bytes = std::max<size_t>(desc.get_size(), 4);
  // Refused before any work is sized by it (a Resize's tables grow with its output).
  if (buffer.bytes > ARENA_LIMIT) throw std::bad_alloc();
  buffer.values = 1;
  out_.buffers.push_back(buffer);
  ValueRec v;
  v.dims = dims;
  v.desc = desc;
  v.buffer = static_cast<int>(out_.buffers.size()) - 1;
  out_.values.push_back(v);
  return static_cast<int>(out_.values.size()) - 1;
}

int Builder::viewValue(int of, const Dims& dims, const memory::desc& desc, size_t offset) {
  ValueRec v;
  v.dims = dims;
  v.desc = desc;
  v.buffer = out_.values[of].buffer;
  v.offset = out_.values[of].offset + offset;
  v.fixed = out_.values[of].fixed;
  if (v.buffer >= 0) ++out_.buffers[v.buffer].values;
  out_.values.push_back(v);
  return static_cast<int>(out_.values.size()) - 1;
}

int Builder::constantValue(const HostTensor& t, const Dims& dims) {
  const memory::desc desc = plainDesc(dims);
  ValueRec v;
  v.dims = dims;
  v.desc = desc;
  v.fixed = constantMemory(t, desc, desc);
  out_.values.push_back(v);
  return static_cast<int>(out_.values.size()) - 1;
}

const HostTensor* Builder::constant(const std::string& name) const {
  auto it = plan_.constants.find(name);
  return it == plan_.constants.end() ? nullptr : &it->second;
}

int Builder::valueOf(const std::string& name) {
  auto it = names_.find(name);
  if (it != names_.end()) return it->second;
  if (const HostTensor* t = constant(name)) {
    const int v = constantValue(*t, t->dims);
    names_[name] = v;
    return v;
  }
  throw ModelError("value " + name + " is read before it is made");
}

bool Builder::isPlain(int v) const { return out_.values[v].desc == plainDesc(out_.values[v].dims); }

int Builder::plain(int v) {
  if (isPlain(v)) return v;
  auto it = plainOf_.find(v);
  if (it != plainOf_.end()) return it->second;
  const int p = inLayout(v, plainDesc(out_.values[v].dims));
  plainOf_[v] = p;
  return p;
}

int Builder::inLayout(int v, memory::desc desc) {
  if (out_.values[v].desc == desc) return v;
  const int to = newValue(out_.values[v].dims, desc);
  dnnl::reorder::primitive_desc pd(out_.eng, out_.values[v].desc, out_.eng, desc, attributes());
  StepRec s;
  s.kind = "Reorder";
  s.primitive = dnnl::reorder(pd);
  s.valueArgs = {{DNNL_ARG_FROM, v}, {DNNL_ARG_TO, to}};
  addStep(std::move(s), pd);
  return to;
}

int Builder::quantized(int v, const memory::desc& desc, float scale) {
  auto it = quantizedOf_.find(v);
  if (it != quantizedOf_.end() && out_.values[it->second].desc == desc) return it->second;
  const int to = newValue(out_.values[v].dims, desc);
  dnnl::primitive_attr attr = attributes();
  attr.set_output_scales(0, {1.0f / scale});
  dnnl::reorder::primitive_desc pd(out_.eng, out_.values[v].desc, out_.eng, desc, attr);
  StepRec s;
  s.kind = "Quantize";
  s.primitive = dnnl::reorder(pd);
  s.valueArgs = {{DNNL_ARG_FROM, v}, {DNNL_ARG_TO, to}};
  addStep(std::move(s), pd);
  quantizedOf_[v] = to;
  return to;
}

const Int8Input* Builder::int8Input(const std::string& name) const {
  auto it = out_.int8.find(name);
  return it == out_.int8.end() ? nullptr : &it->second;
}

dnnl::primitive_attr Builder::attributes() const {
  dnnl::primitive_attr attr;
  attr.set_scratchpad_mode(dnnl::scratchpad_mode::user);
  return attr;
}

void Builder::addStep(StepRec step, const dnnl::primitive_desc_base& pd) {
  const size_t scratch = pd.scratchpad_desc().get_size();
  if (scratch > 0) {
    step.scratchpad = true;
    out_.scratchpadBytes = std::max(out_.scratchpadBytes, scratch);
  }
  ++out_.stepCounts[step.kind];
  out_.steps.push_back(std::move(step));
}

int Builder::addSimpleStep(const std::string& kind, dnnl::primitive primitive, const dnnl::primitive_desc_base& pd,
                           const Dims& dims, std::vector<std::pair<int, int>> inputs) {
  StepRec s;
  s.kind = kind;
  s.primitive = std::move(primitive);
  const int dst = newValue(dims, pd.dst_desc());
  s.valueArgs = std::move(inputs);
  s.valueArgs.emplace_back(DNNL_ARG_DST, dst);
  addStep(std::move(s), pd);
  return dst;
}

void Builder::addKernel(const std::string& kind, std::function<void(const std::vector<float*>&)> kernel,
                        std::vector<int> values) {
  StepRec s;
  s.kind = kind;
  s.kernel = std::move(kernel);
  s.kernelValues = std::move(values);
  ++out_.stepCounts[kind];
  out_.steps.push_back(std::move(s));
}

memory Builder::constantMemory(const HostTensor& t, const memory::desc& source, const memory::desc& wanted) {
  if (t.integer) throw ModelError("an integer tensor is used as float data");
  if (source.get_size() != t.f.size() * sizeof(float) && !(t.f.size() == 1 && source.get_size() == 4))
    throw ModelError("a constant does not match the shape it is used in");
  memory from(source, out_.eng);
  std::memcpy(from.get_data_handle(), t.f.data(), source.get_size());
  if (source == wanted) return from;
  memory to(wanted, out_.eng);
  placeConstant(from, to, out_.strm);
  return to;
}

void placeConstant(memory from, memory to, dnnl::stream& strm) {
  // On the loading thread alone: a parallel region per tensor would leave
  // the other OpenMP threads spinning between regions, on cores that other
  // models' loading and the stream's frames need. (oneDNN's primitive cache
  // tells thread counts apart.)
  struct OneThread {
    const int threads = omp_get_max_threads();
    OneThread() { omp_set_num_threads(1); }
    ~OneThread() { omp_set_num_threads(threads); }
  } alone;
  dnnl::reorder(from, to).execute(strm, from, to);
  strm.wait();
}

int Builder::readers(const std::string& name) const {
  auto it = readers_.find(name);
  return it == readers_.end() ? 0 : it->second;
}

const Node* Builder::onlyReader(const std::string& name) const {
  if (readers(name) != 1 || outputs_.count(name)) return nullptr;
  auto it = readerNodes_.find(name);
  return it == readerNodes_.end() || it->second.size() != 1 ? nullptr : it->second.front();
}

bool Builder::isGraphOutput(const std::string& name) const { return outputs_.count(name) != 0; }

bool Builder::isGraphInput(const std::string& name) const {
  for (const GraphInput& in : plan_.inputs)
    if (in.name == name) return true;
  return false;
}

void Builder::build() {
  for (const GraphInput& in : plan_.inputs) {
    const int v = newValue(in.dims, plainDesc(in.dims));
    out_.buffers[out_.values[v].buffer].pinned = true;
    names_[in.name] = v;
    out_.inputNames.push_back(in.name);
    out_.inputValues.push_back(v);
  }
  for (const Node& node : plan_.nodes) {
    if (absorbed_.count(&node)) continue;
    try {
      lower(node);
    } catch (const dnnl::error& e) {
      refuseNode(node, std::string("oneDNN can't make it (") + e.what() + ")");
    }
  }
  for (const std::string& name : plan_.outputs) {
    int v = plain(valueOf(name));
    // An output may be read by the caller after the run: its buffer is never lent.
    if (out_.values[v].buffer < 0) throw ModelError("output " + name + " is a constant");
    out_.buffers[out_.values[v].buffer].pinned = true;
    out_.outputNames.push_back(name);
    out_.outputValues[name] = v;
  }
}

void Builder::lower(const Node& node) {
  const std::string& op = node.op;
  if (op == "Conv") return lowerConvolution(*this, node);
  if (op == "ConvTranspose") return lowerTransposedConvolution(*this, node);
  if (op == "Gemm") return lowerGemm(*this, node);
  if (op == "MatMul") return lowerMatMul(*this, node);
  if (op == "Add" || op == "Sub" || op == "Mul" || op == "Div" || op == "Max" || op == "Min" || op == "Pow")
    return lowerBinary(*this, node);
  if (op == "MaxPool" || op == "AveragePool" || op == "GlobalAveragePool" || op == "GlobalMaxPool")
    return lowerPooling(*this, node);
  if (op == "Resize" || op == "Upsample") return lowerResize(*this, node);
  if (op == "Concat") return lowerConcat(*this, node);
  if (op == "Reshape" || op == "Flatten" || op == "Squeeze" || op == "Unsqueeze" || op == "Identity" ||
      op == "Dropout" || op == "Transpose")
    return lowerShapeOp(*this, node);
  if (op == "Slice" || op == "Split") return lowerSlicing(*this, node);
  if (op == "Pad") {
    if (deferPad(*this, node)) return;
    return lowerPad(*this, node);
  }
  if (op == "Softmax") return lowerSoftmax(*this, node);
  if (op == "ReduceMean" || op == "ReduceMax" || op == "ReduceSum") return lowerReduce(*this, node);
  return lowerElementwise(*this, node);
}

float* Compiled::data(int value) const {
  const ValueRec& v = values[value];
  if (v.fixed) return reinterpret_cast<float*>(static_cast<uint8_t*>(v.fixed->get_data_handle()) + v.offset);
  return reinterpret_cast<float*>(arena.get() + v.offset);
}

void Compiled::bind() {
  const int end = static_cast<int>(steps.size());
  for (int s = 0; s < end; ++s) {
    auto touch = [&](int v) {
      const int b = values[v].buffer;
      if (b < 0) return;
      BufferRec& buf = buffers[b];
      if (buf.first < 0) buf.first = s;
      buf.last = std::max(buf.last, s);
    };
    for (const auto& [arg, v] : steps[s].valueArgs) touch(v);
    for (int v : steps[s].kernelValues) touch(v);
  }
  std::vector<Lifetime> lives;
  for (BufferRec& b : buffers) {
    if (b.pinned) {
      b.first = 0;
      b.last = INT_MAX;
    } else if (b.first < 0) {
      b.first = b.last = 0;  // made but never used: still placed, harmlessly
    }
    lives.push_back({b.bytes, b.first, b.last});
  }
  const ArenaLayout layout = placeInArena(lives, 64);
  if (layout.total > ARENA_LIMIT) throw std::bad_alloc();
  arenaBytes = layout.total;
  void* block = std::aligned_alloc(64, std::max<size_t>(64, (layout.total + 63) / 64 * 64));
  if (!block) throw ModelError("can't allocate " + std::to_string(layout.total) + " bytes");
  std::memset(block, 0, layout.total);
  arena = std::unique_ptr<uint8_t[], void (*)(void*)>(static_cast<uint8_t*>(block), std::free);
  for (ValueRec& v : values)
    if (v.buffer >= 0) v.offset += layout.offsets[v.buffer];
  if (scratchpadBytes > 0)
    scratchpad = memory(memory::desc({static_cast<memory::dim>(scratchpadBytes)}, memory::data_type::u8,
                                     memory::format_tag::x),
                        eng);
  for (StepRec& s : steps) {
    for (const auto& [arg, v] : s.valueArgs) s.bound.emplace(arg, memory(values[v].desc, eng, data(v)));
    for (const auto& [arg, m] : s.fixedArgs) s.bound.emplace(arg, m);
    if (s.scratchpad) s.bound.emplace(DNNL_ARG_SCRATCHPAD, *scratchpad);
    for (int v : s.kernelValues) s.pointers.push_back(data(v));
  }
}

void Compiled::run(std::map<std::string, double>* msByKind) { runSteps(msByKind); }

void Compiled::record(const StepRec& s) {
  // The range that holds all but the outermost 1/10000 of the values at each
  // end: a few outliers would otherwise cost every other value its precision.
  const float* p = data(s.calibratesValue);
  std::vector<float> v(p, p + values[s.calibratesValue].desc.get_size() / sizeof(float));
  double squares = 0;
  for (float x : v) squares += static_cast<double>(x) * x;
  const size_t cut = v.size() / 10000;
  std::nth_element(v.begin(), v.begin() + cut, v.end());
  const float lo = v[cut];
  std::nth_element(v.begin(), v.end() - 1 - cut, v.end());
  const float hi = v[v.size() - 1 - cut];
  ValueRange& r = ranges[s.calibrates];
  r.lo = r.runs ? std::min(r.lo, lo) : lo;
  r.hi = r.runs ? std::max(r.hi, hi) : hi;
  r.meanSquare = (r.meanSquare * r.runs + squares / static_cast<double>(v.size())) / (r.runs + 1);
  ++r.runs;
}

void Compiled::runSteps(std::map<std::string, double>* msByKind) {
  for (StepRec& s : steps) {
    if (recording && s.calibratesValue >= 0) record(s);
    const auto began = std::chrono::steady_clock::now();
    if (s.primitive) {
      s.primitive->execute(strm, s.bound);
    } else {
      strm.wait();
      s.kernel(s.pointers);
    }
    if (msByKind) {
      strm.wait();
      (*msByKind)[s.kind] += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
    }
  }
  strm.wait();
}

}  // namespace kestrel::vision::engine
