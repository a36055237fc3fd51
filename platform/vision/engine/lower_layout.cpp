// Joining, slicing, padding and the ops that only change how a tensor is
// seen (Reshape, Flatten, Squeeze, Transpose...).
#include <set>

#include "platform/vision/engine/compiler.h"
#include "platform/vision/engine/constant_folding.h"
#include "platform/vision/engine/kernels.h"

namespace kestrel::vision::engine {
namespace {

// Transpose's order of axes: the reverse when the node gives none.
std::vector<int64_t> permutation(const Node& node, size_t rank) {
  std::vector<int64_t> perm = node.integers("perm");
  if (perm.empty())
    for (size_t k = rank; k-- > 0;) perm.push_back(static_cast<int64_t>(k));
  return perm;
}

// Inputs in different layouts send oneDNN's concat to its reference kernel:
// they join in the layout of the first input a convolution left.
std::optional<memory::format_tag> commonLayout(Builder& b, const Node& node, const Dims& out) {
  if (out.size() != 4) return std::nullopt;
  for (const std::string& name : node.inputs) {
    const ValueRec& v = b.value(b.valueOf(name));
    const memory::dims dims(v.dims.begin(), v.dims.end());
    for (auto tag : {memory::format_tag::acdb, memory::format_tag::aBcd16b})
      if (v.desc == memory::desc(dims, kF32, tag)) return tag;
  }
  return std::nullopt;
}

// A join along channels where the steps that make the inputs write them
// straight into their places in the output, and only the others are copied
// in. In plain or channel-blocked layouts of one image an input's place is
// a contiguous stretch in its own layout: whatever step makes it writes
// there unchanged, and other readers read it there (but it can live in one
// output only). In channels last its place is strided: a step read by this
// Concat alone is remade for it where oneDNN keeps the same kernel (its
// reorders do; on AVX-512 its convolution, resampling, pooling and binary
// kernels do not). Blocked channels join at whole blocks.
// False, with nothing added, when no input can be written in place.
bool joinInPlace(Builder& b, const Node& node, int axis, const Dims& out, std::optional<memory::format_tag> common) {
  constexpr int64_t kBlock = 16;
  if (out.size() != 4 || axis != 1) return false;
  const bool blocked = common == memory::format_tag::aBcd16b;
  const memory::desc whole = common ? memory::desc(out, kF32, *common) : Builder::plainDesc(out);
  struct Part {
    int value;
    memory::desc view;
    size_t at = 0;  // bytes into the output, when contiguous
    bool moved = false;
    std::optional<dnnl::primitive_desc_base> remade;
  };
  std::vector<Part> parts;
  std::set<std::string> seen;  // an input joined twice is placed once, then copied
  int64_t channel = 0;
  bool any = false;
  for (const std::string& name : node.inputs) {
    const int v = b.valueOf(name);
    const Dims dims = b.value(v).dims;
    if (blocked && channel % kBlock != 0) return false;
    Part p{v, memory::desc(), 0, false, std::nullopt};
    try {
      p.view = whole.submemory_desc(dims, {0, channel, 0, 0});
    } catch (const dnnl::error&) {
      return false;  // a part that ends inside a block
    }
    const bool contiguous = out[0] == 1 && (!common || blocked);
    const memory::desc own = common ? memory::desc(dims, kF32, *common) : Builder::plainDesc(dims);
    const bool first = seen.insert(name).second;
    if (contiguous && first && b.value(v).desc == own && b.ownsBuffer(v) && !b.isGraphOutput(name) &&
        (!blocked || dims[1] % kBlock == 0 || &name == &node.inputs.back())) {
      p.moved = true;
      p.at = static_cast<size_t>(channel * out[2] * out[3]) * sizeof(float);
      p.view = own;
    } else if (!contiguous && b.readers(name) == 1) {
      p.remade = b.redirectable(v, p.view);
      p.moved = p.remade.has_value();
    }
    any = any || p.moved;
    parts.push_back(std::move(p));
    channel += dims[1];
  }
  if (!any) return false;
  const int dst = b.newValue(out, whole);
  for (const Part& p : parts) {
    if (p.moved) b.moveInto(p.value, dst, p.at, p.view, p.remade);
    else b.copyInto("Concat", p.value, b.viewValue(dst, b.value(p.value).dims, p.view));
  }
  b.name(node.outputs[0], dst);
  return true;
}

}  // namespace

void lowerJoin(Builder& b, const Node& node) {
  const Dims out = b.plan().dims.at(node.outputs[0]);
  const int axis = static_cast<int>(normaliseAxis(node.integer("axis", 0), static_cast<int64_t>(out.size()), node));
  const std::optional<memory::format_tag> common = commonLayout(b, node, out);
  if (joinInPlace(b, node, axis, out, common)) return;
  std::vector<int> parts;
  std::vector<memory::desc> descs;
  for (const std::string& name : node.inputs) {
    int v = b.valueOf(name);
    if (common) v = b.inLayout(v, memory::desc(b.value(v).dims, kF32, *common));
    parts.push_back(v);
    descs.push_back(b.value(v).desc);
  }
  dnnl::concat::primitive_desc pd(axis, descs, b.eng(), b.attributes());
  StepRec s;
  s.kind = "Concat";
  s.primitive = dnnl::concat(pd);
  const int dst = b.newValue(out, pd.dst_desc());
  for (size_t k = 0; k < parts.size(); ++k) s.valueArgs.emplace_back(DNNL_ARG_MULTIPLE_SRC + static_cast<int>(k), parts[k]);
  s.valueArgs.emplace_back(DNNL_ARG_DST, dst);
  b.addStep(std::move(s), pd);
  b.name(node.outputs[0], dst);
}

namespace {

void deferOrLowerConcat(Builder& b, const Node& node) {
  const Node* reader = b.onlyReader(node.outputs[0]);
  if (reader && reader->op == "Conv" && reader->input(0) == node.outputs[0]) {
    b.pendingJoins[node.outputs[0]] = &node;
    return;
  }
  lowerJoin(b, node);
}

void lowerShapeOp(Builder& b, const Node& node) {
  const Dims out = b.plan().dims.at(node.outputs[0]);
  const int x = b.plain(b.valueOf(node.input(0)));
  if (node.op != "Transpose") {  // the same numbers seen with other dims
    b.name(node.outputs[0], b.viewValue(x, out, Builder::plainDesc(out)));
    return;
  }
  const Dims in = b.value(x).dims;
  const std::vector<int64_t> perm = permutation(node, in.size());
  // The input read in the output's axis order: a strided view, then a reorder.
  const Dims inStrides = rowMajorStrides(in);
  memory::dims strides;
  for (int64_t p : perm) strides.push_back(inStrides[p]);
  const int view = b.viewValue(x, out, memory::desc(out, kF32, strides));
  b.name(node.outputs[0], b.inLayout(view, Builder::plainDesc(out)));
}

void lowerSlicing(Builder& b, const Node& node) {
  const InputFacts facts = b.facts(node);
  // Channels last is cut where it lies, each part reordered once from its
  // view, rather than the whole made plain first; the parts stay channels
  // last, as the steps that read them (a recurrent gate's, say) work in it.
  int x = b.valueOf(node.input(0));
  const Dims in = b.value(x).dims;
  const bool cutInPlace = in.size() == 4 && b.value(x).desc == channelsLast(in);
  if (!cutInPlace) x = b.plain(x);
  const memory::desc whole = b.value(x).desc;
  auto take = [&](const Dims& offsets, const Dims& dims, const std::string& name) {
    const memory::desc part = whole.submemory_desc(dims, offsets);
    const int view = b.viewValue(x, dims, part);
    b.name(name, b.inLayout(view, cutInPlace ? channelsLast(dims) : Builder::plainDesc(dims)));
  };
  if (node.op == "Slice") {
    Dims offsets(in.size(), 0);
    for (const AxisSlice& s : sliceAxes(node, facts)) {
      if (s.step != 1) refuseNode(node, "slices with a step other than 1");
      offsets[s.axis] = s.start;
    }
    take(offsets, b.plan().dims.at(node.outputs[0]), node.outputs[0]);
    return;
  }
  const int64_t axis = normaliseAxis(node.integer("axis", 0), static_cast<int64_t>(in.size()), node);
  Dims offsets(in.size(), 0);
  for (const std::string& name : node.outputs) {
    if (name.empty()) continue;
    const Dims& dims = b.plan().dims.at(name);
    take(offsets, dims, name);
    offsets[axis] += dims[axis];
  }
}

bool deferPad(Builder& b, const Node& node) {
  const Node* reader = b.onlyReader(node.outputs[0]);
  if (!reader || reader->op != "Conv" || reader->input(0) != node.outputs[0]) return false;
  if (node.text("mode", "constant") != "constant") return false;
  const InputFacts facts = b.facts(node);
  std::vector<int64_t> pads;
  float value = 0;
  if (b.plan().opset < 11) {
    pads = node.integers("pads");
    value = node.real("value", 0);
  } else {
    if (!facts.isConstant(1)) return false;
    pads = facts.constants[1]->wholes();
    if (facts.isConstant(2)) value = static_cast<float>(oneNumber(node, *facts.constants[2], "constant_value"));
    else if (!node.input(2).empty()) return false;
  }
  const size_t rank = b.plan().dims.at(node.input(0)).size();
  if (value != 0 || pads.size() != 2 * rank || rank < 3) return false;
  for (size_t k = 0; k < pads.size(); ++k) {
    if (pads[k] < 0) return false;
    if ((k % rank) < 2 && pads[k] != 0) return false;  // batch or channels
  }
  Builder::PendingPad p;
  p.source = node.input(0);
  for (size_t k = 2; k < rank; ++k) p.pads.push_back(pads[k]);
  for (size_t k = 2; k < rank; ++k) p.pads.push_back(pads[rank + k]);
  b.pendingPads[node.outputs[0]] = p;
  return true;
}

void lowerPad(Builder& b, const Node& node) {
  if (node.text("mode", "constant") != "constant") refuseNode(node, "only constant padding is taken");
  const InputFacts facts = b.facts(node);
  std::vector<int64_t> pads = b.plan().opset < 11 ? node.integers("pads") : facts.constant(node, 1).wholes();
  float value = b.plan().opset < 11 ? node.real("value", 0) : 0;
  if (b.plan().opset >= 11 && !node.input(2).empty())
    value = static_cast<float>(oneNumber(node, facts.constant(node, 2), "constant_value"));
  int x = b.valueOf(node.input(0));
  const Dims in = b.value(x).dims;
  const Dims out = b.plan().dims.at(node.outputs[0]);
  if (in.size() == 4 && b.value(x).desc == channelsLast(in)) {
    // Channels last is row-major N, H, W, C: pad it as such.
    const Dims seen{in[0], in[2], in[3], in[1]};
    const std::vector<int64_t> seenPads{pads[0], pads[2], pads[3], pads[1], pads[4], pads[6], pads[7], pads[5]};
    const int dst = b.newValue(out, channelsLast(out));
    b.addKernel("Pad*", [seen, seenPads, value](const std::vector<float*>& p) {
      padConstant(p[0], seen, p[1], seenPads, value);
    }, {x, dst});
    b.name(node.outputs[0], dst);
    return;
  }
  x = b.plain(x);
  const int dst = b.newValue(out, Builder::plainDesc(out));
  b.addKernel("Pad*", [in, pads, value](const std::vector<float*>& p) { padConstant(p[0], in, p[1], pads, value); },
              {x, dst});
  b.name(node.outputs[0], dst);
}

double unchanged(double v) { return v; }

Folded foldReshaped(const Node& node, const InputFacts& in) {
  HostTensor t = *in.constants[0];
  t.dims = outputDims(node, in)[0];
  return one(std::move(t));
}

Folded foldTranspose(const Node& node, const InputFacts& in) {
  const HostTensor& x = *in.constants[0];
  const std::vector<int64_t> perm = permutation(node, x.dims.size());
  const Dims s = rowMajorStrides(x.dims);
  return one(gatherElements(x, outputDims(node, in)[0], [&](const Dims& idx) {
    int64_t at = 0;
    for (size_t k = 0; k < idx.size(); ++k) at += idx[k] * s[perm[k]];
    return at;
  }));
}

Folded foldSlice(const Node& node, const InputFacts& in) {
  const HostTensor& x = *in.constants[0];
  const std::vector<AxisSlice> slices = sliceAxes(node, in);
  const Dims s = rowMajorStrides(x.dims);
  std::vector<int64_t> start(x.dims.size(), 0), step(x.dims.size(), 1);
  for (const AxisSlice& a : slices) {
    start[a.axis] = a.start;
    step[a.axis] = a.step;
  }
  return one(gatherElements(x, outputDims(node, in)[0], [&](const Dims& idx) {
    int64_t at = 0;
    for (size_t k = 0; k < idx.size(); ++k) at += (start[k] + idx[k] * step[k]) * s[k];
    return at;
  }));
}

Folded foldConcat(const Node& node, const InputFacts& in) {
  const HostTensor& x = *in.constants[0];
  const int64_t axis = normaliseAxis(node.integer("axis", 0), static_cast<int64_t>(x.dims.size()), node);
  HostTensor out;
  out.dims = outputDims(node, in)[0];
  bool integer = true;
  for (size_t k = 0; k < node.inputs.size(); ++k) integer = integer && in.constants[k]->integer;
  out.integer = integer;
  const int64_t outer = elementCount(Dims(x.dims.begin(), x.dims.begin() + axis));
  for (int64_t o = 0; o < outer; ++o) {
    for (size_t k = 0; k < node.inputs.size(); ++k) {
      const HostTensor& t = *in.constants[k];
      const int64_t inner = elementCount(Dims(t.dims.begin() + axis, t.dims.end()));
      for (int64_t j = 0; j < inner; ++j) {
        const size_t at = static_cast<size_t>(o * inner + j);
        if (integer) out.i.push_back(t.i[at]);
        else out.f.push_back(static_cast<float>(t.real(at)));
      }
    }
  }
  return one(out);
}

void deferOrLowerPad(Builder& b, const Node& node) {
  if (!deferPad(b, node)) lowerPad(b, node);
}

Dims reshaped(const Node& node, const Dims& input, const std::vector<int64_t>& shape) {
  Dims out;
  int64_t known = 1, inferred = -1;
  const int64_t total = elementCount(input);
  for (size_t k = 0; k < shape.size(); ++k) {
    int64_t d = shape[k];
    if (d == 0 && node.integer("allowzero", 0) == 0) {
      if (k >= input.size()) refuseNode(node, "shape copies an axis the input does not have");
      d = input[k];
    }
    if (d == -1) {
      if (inferred >= 0) refuseNode(node, "shape has more than one -1");
      inferred = static_cast<int64_t>(k);
      out.push_back(1);
      continue;
    }
    if (d < 0) refuseNode(node, "shape has a negative size");
    if (d > 0 && known > (int64_t{1} << 31) / d) refuseNode(node, "shape is too large");
    known *= d;
    out.push_back(d);
  }
  if (inferred >= 0) {
    if (known == 0 || total % known != 0) refuseNode(node, "shape does not divide the input " + dimsText(input));
    out[inferred] = total / known;
  }
  if (elementCount(out) != total) refuseNode(node, "shape " + dimsText(out) + " does not hold the input " + dimsText(input));
  return out;
}

std::vector<Dims> concatShape(const Node& node, const InputFacts& in) {
  Dims out = in.input(node, 0);
  const int64_t axis = normaliseAxis(node.integer("axis", 0), static_cast<int64_t>(out.size()), node);
  for (size_t k = 1; k < node.inputs.size(); ++k) {
    const Dims& d = in.input(node, k);
    if (d.size() != out.size()) refuseNode(node, "inputs differ in rank");
    for (size_t a = 0; a < d.size(); ++a)
      if (static_cast<int64_t>(a) != axis && d[a] != out[a]) refuseNode(node, "inputs differ off the joined axis");
    out[axis] += d[axis];
  }
  return {out};
}

std::vector<Dims> reshapeShape(const Node& node, const InputFacts& in) {
  return {reshaped(node, in.input(node, 0), in.constant(node, 1).wholes())};
}

std::vector<Dims> flattenShape(const Node& node, const InputFacts& in) {
  const Dims& x = in.input(node, 0);
  const int64_t axis = node.integer("axis", 1);
  const int64_t a = axis < 0 ? axis + static_cast<int64_t>(x.size()) : axis;
  if (a < 0 || a > static_cast<int64_t>(x.size())) refuseNode(node, "axis is out of range");
  return {{elementCount(Dims(x.begin(), x.begin() + a)), elementCount(Dims(x.begin() + a, x.end()))}};
}

std::vector<Dims> transposeShape(const Node& node, const InputFacts& in) {
  const Dims& x = in.input(node, 0);
  const std::vector<int64_t> perm = permutation(node, x.size());
  if (perm.size() != x.size()) refuseNode(node, "perm does not match the input's rank");
  std::vector<bool> seen(x.size(), false);
  Dims out;
  for (int64_t p : perm) {
    if (p < 0 || p >= static_cast<int64_t>(x.size()) || seen[p]) refuseNode(node, "perm is not a permutation");
    seen[p] = true;
    out.push_back(x[p]);
  }
  return {out};
}

std::vector<Dims> squeezeShape(const Node& node, const InputFacts& in) {
  const Dims& x = in.input(node, 0);
  const std::vector<int64_t> axes = in.axes(node, 1);
  std::vector<bool> drop(x.size(), false);
  for (int64_t a : axes) drop[normaliseAxis(a, static_cast<int64_t>(x.size()), node)] = true;
  Dims out;
  for (size_t k = 0; k < x.size(); ++k) {
    if (axes.empty() ? x[k] == 1 : drop[k]) {
      if (x[k] != 1) refuseNode(node, "squeezes an axis longer than 1");
      continue;
    }
    out.push_back(x[k]);
  }
  return {out};
}

std::vector<Dims> unsqueezeShape(const Node& node, const InputFacts& in) {
  const Dims& x = in.input(node, 0);
  const std::vector<int64_t> axes = in.axes(node, 1);
  const int64_t rank = static_cast<int64_t>(x.size() + axes.size());
  std::vector<bool> added(rank, false);
  for (int64_t a : axes) {
    const int64_t k = normaliseAxis(a, rank, node);
    if (added[k]) refuseNode(node, "repeats an axis");
    added[k] = true;
  }
  Dims out;
  size_t from = 0;
  for (int64_t k = 0; k < rank; ++k) out.push_back(added[k] ? 1 : x[from++]);
  return {out};
}

std::vector<Dims> sliceShape(const Node& node, const InputFacts& in) {
  Dims out = in.input(node, 0);
  for (const AxisSlice& s : sliceAxes(node, in)) out[s.axis] = s.count;
  if (elementCount(out) <= 0) refuseNode(node, "takes nothing");
  return {out};
}

std::vector<Dims> splitShape(const Node& node, const InputFacts& in) {
  const Dims& x = in.input(node, 0);
  const int64_t axis = normaliseAxis(node.integer("axis", 0), static_cast<int64_t>(x.size()), node);
  std::vector<int64_t> split = node.integers("split");
  if (split.empty() && in.opset >= 13 && !node.input(1).empty()) split = in.constant(node, 1).wholes();
  const int64_t parts = static_cast<int64_t>(node.outputs.size());
  if (split.empty()) {
    if (x[axis] % parts != 0) refuseNode(node, "does not split evenly");
    split.assign(parts, x[axis] / parts);
  }
  int64_t sum = 0;
  for (int64_t s : split) sum += s;
  if (static_cast<int64_t>(split.size()) != parts || sum != x[axis]) refuseNode(node, "split sizes do not add up");
  std::vector<Dims> outs;
  for (int64_t s : split) {
    Dims d = x;
    d[axis] = s;
    if (s <= 0) refuseNode(node, "makes an empty part");
    outs.push_back(d);
  }
  return outs;
}

std::vector<Dims> padShape(const Node& node, const InputFacts& in) {
  Dims x = in.input(node, 0);
  const std::vector<int64_t> pads = in.opset < 11 ? node.integers("pads") : in.constant(node, 1).wholes();
  if (pads.size() != 2 * x.size()) refuseNode(node, "pads do not match the input's rank");
  for (size_t k = 0; k < x.size(); ++k) {
    x[k] += pads[k] + pads[k + x.size()];
    if (x[k] <= 0) refuseNode(node, "pads leave nothing");
  }
  return {x};
}

}  // namespace

int joinQuantized(Builder& b, const Node& concat, const memory::desc& desc, float scale) {
  const Dims out = b.plan().dims.at(concat.outputs[0]);
  const int64_t axis = normaliseAxis(concat.integer("axis", 0), static_cast<int64_t>(out.size()), concat);
  std::vector<memory::desc> views;
  Dims offsets(out.size(), 0);
  try {
    for (const std::string& name : concat.inputs) {
      const Dims& dims = b.plan().dims.at(name);
      views.push_back(desc.submemory_desc(dims, offsets));
      offsets[axis] += dims[axis];
    }
  } catch (const dnnl::error&) {
    return -1;  // a blocked layout cut off its blocks
  }
  const int dst = b.newValue(out, desc);
  for (size_t k = 0; k < views.size(); ++k) {
    const int v = b.valueOf(concat.inputs[k]);
    b.copyInto("Quantize", v, b.viewValue(dst, b.value(v).dims, views[k]), scale);
  }
  return dst;
}

OpRows layoutOps() {
  return {
      {"Reshape", {reshapeShape, foldReshaped, 1, lowerShapeOp}},
      {"Flatten", {flattenShape, foldReshaped, 1, lowerShapeOp}},
      {"Squeeze", {squeezeShape, foldReshaped, 1, lowerShapeOp}},
      {"Unsqueeze", {unsqueezeShape, foldReshaped, 1, lowerShapeOp}},
      {"Identity", {sameShape, foldMapped<unchanged>, 1, lowerShapeOp}},
      {"Dropout", {sameShape, foldMapped<unchanged>, 1, lowerShapeOp}},
      {"Transpose", {transposeShape, foldTranspose, 1, lowerShapeOp}},
      {"Slice", {sliceShape, foldSlice, 1, lowerSlicing}},
      {"Split", {splitShape, nullptr, 1, lowerSlicing}},
      {"Concat", {concatShape, foldConcat, kEveryInput, deferOrLowerConcat}},
      {"Pad", {padShape, nullptr, 1, deferOrLowerPad}},
  };
}

}  // namespace kestrel::vision::engine
