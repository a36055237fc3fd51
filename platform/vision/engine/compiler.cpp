#include "platform/vision/engine/compiler.h"

#include <omp.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/vision/engine/ops.h"
#include "platform/vision/engine/redirect.h"

namespace kestrel::vision::engine {
namespace {

// oneDNN 2.6's AMX int8 convolutions read past an array of their own while
// they are made (a 32-to-16-channel 3x3 convolution at 68 x 120, on two
// threads, ends in a fault where the heap ends there), and on these models
// they ran no faster than AVX-512 VNNI's. So the kernels stop short of AMX.
void keepBelowAmx() {
  static const bool once = [] {
    dnnl_set_max_cpu_isa(dnnl_cpu_isa_avx512_core_bf16);
    return true;
  }();
  (void)once;
}

}  // namespace

Compiled compile(const Plan& plan, const std::map<std::string, Int8Input>& int8, FloatJoins joins) {
  // One model compiles at a time. Compiled side by side on two threads (a
  // stream loads its models at once), a network now and then came out giving
  // wrong numbers for the rest of the run: the cutout's matte went wrong from
  // its first frame in about one start in seventy, never with the compiles
  // one after the other. Reading and checking the files still overlap.
  static std::mutex compiling;
  const std::lock_guard<std::mutex> lock(compiling);
  keepBelowAmx();
  Compiled out;
  Builder(plan, int8, joins, out).build();
  return out;
}

Builder::Builder(const Plan& plan, const std::map<std::string, Int8Input>& int8, FloatJoins joins, Compiled& out)
    : plan_(plan), int8_(int8), joins_(joins), out_(out), program_(out.program), index_(plan.nodes, plan.outputs) {}

memory::desc Builder::plainDesc(const Dims& dims) {
  if (dims.empty()) return memory::desc({1}, kF32, memory::dims{1});
  return memory::desc(dims, kF32, rowMajorStrides(dims));
}

int kernelRank(const dnnl::primitive_desc_base& pd) {
  const std::string impl = pd.impl_info_str();
  if (impl.rfind("ref", 0) == 0 || impl.rfind("simple", 0) == 0) return 0;
  if (impl.find("gemm") != std::string::npos && impl.find("brg") == std::string::npos) return 1;
  return 2;
}

memory::desc anyDesc(const Dims& d, memory::data_type t) { return memory::desc(d, t, memory::format_tag::any); }

memory::desc channelsLast(const Dims& d, memory::data_type t) {
  return d.size() == 4 ? memory::desc(d, t, memory::format_tag::acdb) : anyDesc(d, t);
}

memory::dims oneDnnDilations(const Dims& dilations) {
  memory::dims out;
  for (int64_t d : dilations) out.push_back(d - 1);
  return out;
}

int Builder::newValue(const Dims& dims, const memory::desc& desc) {
  BufferRec buffer;
  buffer.bytes = std::max<size_t>(desc.get_size(), 4);
  // Refused before any work is sized by it (a Resize's tables grow with its output).
  if (buffer.bytes > kArenaLimit) throw std::bad_alloc();
  buffer.values = 1;
  program_.buffers.push_back(buffer);
  ValueRec v;
  v.dims = dims;
  v.desc = desc;
  v.buffer = static_cast<int>(program_.buffers.size()) - 1;
  program_.values.push_back(v);
  return static_cast<int>(program_.values.size()) - 1;
}

int Builder::viewValue(int of, const Dims& dims, const memory::desc& desc, size_t offset) {
  ValueRec v;
  v.dims = dims;
  v.desc = desc;
  v.buffer = program_.values[of].buffer;
  v.offset = program_.values[of].offset + offset;
  v.fixed = program_.values[of].fixed;
  if (v.buffer >= 0) ++program_.buffers[v.buffer].values;
  program_.values.push_back(v);
  return static_cast<int>(program_.values.size()) - 1;
}

int Builder::constantValue(const HostTensor& t, const Dims& dims) {
  const memory::desc desc = plainDesc(dims);
  ValueRec v;
  v.dims = dims;
  v.desc = desc;
  v.fixed = constantMemory(t, desc, desc);
  program_.values.push_back(v);
  return static_cast<int>(program_.values.size()) - 1;
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

bool Builder::isPlain(int v) const { return program_.values[v].desc == plainDesc(program_.values[v].dims); }

int Builder::plain(int v) {
  if (isPlain(v)) return v;
  return inLayout(v, plainDesc(program_.values[v].dims));
}

int Builder::inLayout(int v, memory::desc desc) {
  if (program_.values[v].desc == desc) return v;
  // A value read in one layout by several steps is reordered once.
  std::vector<int>& copies = copiesOf_[v];
  for (int c : copies)
    if (program_.values[c].desc == desc) return c;
  const int to = newValue(program_.values[v].dims, desc);
  copyInto("Reorder", v, to);
  copies.push_back(to);
  return to;
}

void Builder::copyInto(const std::string& kind, int from, int to, std::optional<float> scale) {
  dnnl::primitive_attr attr = attributes();
  if (scale) attr.set_output_scales(0, {1.0f / *scale});
  dnnl::reorder::primitive_desc pd(program_.eng, program_.values[from].desc, program_.eng, program_.values[to].desc,
                                   attr);
  StepRec s;
  s.kind = kind;
  s.primitive = dnnl::reorder(pd);
  s.valueArgs = {{DNNL_ARG_FROM, from}, {DNNL_ARG_TO, to}};
  addStep(std::move(s), pd);
}

namespace {

// The step that writes v as its destination.
int makerStep(const std::vector<StepRec>& steps, int v) {
  for (size_t k = steps.size(); k-- > 0;)
    for (const auto& [arg, value] : steps[k].valueArgs)
      if (value == v && (arg == DNNL_ARG_DST || arg == DNNL_ARG_TO)) return static_cast<int>(k);
  return -1;
}

}  // namespace

bool Builder::ownsBuffer(int v) const {
  const BufferRec* buffer = bufferOf(v);
  return buffer && !buffer->pinned && buffer->values == 1 && program_.values[v].offset == 0;
}

std::optional<dnnl::primitive_desc_base> Builder::redirectable(int v, const memory::desc& view) const {
  const int k = makerStep(program_.steps, v);
  if (!ownsBuffer(v) || k < 0 || !program_.steps[k].pd) return std::nullopt;
  return withDestination(*program_.steps[k].pd, view, program_.eng);
}

void Builder::moveInto(int v, int into, size_t at, const memory::desc& desc,
                       const std::optional<dnnl::primitive_desc_base>& pd) {
  if (pd) {
    StepRec& s = program_.steps[makerStep(program_.steps, v)];
    s.primitive = dnnl::primitive(pd->get());
    usePrimitive(s, *pd);
  }
  ValueRec& value = program_.values[v];
  BufferRec& old = program_.buffers[value.buffer];
  old.bytes = 0;  // left to nothing
  old.values = 0;
  value.buffer = program_.values[into].buffer;
  value.offset = program_.values[into].offset + at;
  value.desc = desc;
  ++program_.buffers[value.buffer].values;
}

int Builder::quantized(int v, const memory::desc& desc, float scale) {
  auto it = quantizedOf_.find(v);
  if (it != quantizedOf_.end() && program_.values[it->second].desc == desc) return it->second;
  const int to = newValue(program_.values[v].dims, desc);
  copyInto("Quantize", v, to, scale);
  quantizedOf_[v] = to;
  return to;
}

const Int8Input* Builder::int8Input(const std::string& name) const {
  auto it = int8_.find(name);
  return it == int8_.end() ? nullptr : &it->second;
}

dnnl::primitive_attr Builder::attributes() const {
  dnnl::primitive_attr attr;
  attr.set_scratchpad_mode(dnnl::scratchpad_mode::user);
  return attr;
}

void Builder::usePrimitive(StepRec& step, const dnnl::primitive_desc_base& pd) {
  const size_t scratch = pd.scratchpad_desc().get_size();
  step.scratchpad = scratch > 0;
  program_.scratchpadBytes = std::max(program_.scratchpadBytes, scratch);
  step.pd = pd;
}

void Builder::addStep(StepRec step, const dnnl::primitive_desc_base& pd) {
  usePrimitive(step, pd);
  program_.steps.push_back(std::move(step));
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
  program_.steps.push_back(std::move(s));
}

memory Builder::constantMemory(const HostTensor& t, const memory::desc& source, const memory::desc& wanted) {
  if (t.integer) throw ModelError("an integer tensor is used as float data");
  if (source.get_size() != t.f.size() * sizeof(float) && !(t.f.size() == 1 && source.get_size() == 4))
    throw ModelError("a constant does not match the shape it is used in");
  memory from(source, program_.eng);
  std::memcpy(from.get_data_handle(), t.f.data(), source.get_size());
  if (source == wanted) return from;
  memory to(wanted, program_.eng);
  placeConstant(from, to, program_.strm);
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

const BufferRec* Builder::bufferOf(int v) const {
  const int b = program_.values[v].buffer;
  return b >= 0 ? &program_.buffers[b] : nullptr;
}

InputFacts Builder::facts(const Node& node) const {
  InputFacts f;
  f.opset = plan_.opset;
  for (const std::string& name : node.inputs) {
    f.dims.push_back(name.empty() ? Dims{} : plan_.dims.at(name));
    f.constants.push_back(name.empty() ? nullptr : constant(name));
  }
  return f;
}

const Node* Builder::onlyReader(const std::string& name) const {
  auto k = index_.onlyReader(name);
  return k ? &plan_.nodes[*k] : nullptr;
}

bool Builder::isGraphInput(const std::string& name) const {
  for (const GraphInput& in : plan_.inputs)
    if (in.name == name) return true;
  return false;
}

void Builder::build() {
  for (const GraphInput& in : plan_.inputs) {
    const int v = newValue(in.dims, plainDesc(in.dims));
    program_.buffers[program_.values[v].buffer].pinned = true;
    names_[in.name] = v;
    program_.inputNames.push_back(in.name);
    program_.inputValues.push_back(v);
  }
  for (const Node& node : plan_.nodes) {
    if (absorbed_.count(&node)) continue;
    try {
      lowerNode(*this, node);
    } catch (const dnnl::error& e) {
      refuseNode(node, std::string("oneDNN can't make it (") + e.what() + ")");
    }
  }
  for (const std::string& name : plan_.outputs) {
    int v = plain(valueOf(name));
    // An output may be read by the caller after the run: its buffer is never lent.
    if (program_.values[v].buffer < 0) throw ModelError("output " + name + " is a constant");
    program_.buffers[program_.values[v].buffer].pinned = true;
    program_.outputNames.push_back(name);
    program_.outputValues[name] = v;
  }
  for (StepRec& s : program_.steps) s.pd.reset();  // needed no more
}

}  // namespace kestrel::vision::engine
