// Concat inputs written in place in the output by the steps that make them:
// a reorder (a Slice) writing a strided place in channels last, element-wise
// steps writing a contiguous place in the plain layout, at offsets on and off
// a 16-channel boundary, beside inputs that must be copied (the network's own
// input, a graph output, a value already living in another Concat's output,
// an input joined twice).
// A Concat read by an int8 convolution alone has its inputs quantized
// straight into the convolution's input. Checked against the arithmetic
// written out, over two runs with different inputs, in float and in int8.
#include <gtest/gtest.h>

#include <onnx/onnx_pb.h>

#include <cmath>
#include <functional>

#include "platform/vision/engine/network.h"

using namespace kestrel::vision::engine;

namespace {

constexpr int kIn = 16, kHeight = 6, kWidth = 7, kPixels = kHeight * kWidth;
constexpr int kWide = 16, kThin = 3, kFrom = 2, kPart = 10;

float weight(int seed, int o, int i) { return std::sin(static_cast<float>(seed * 97 + o * 13 + i * 7)) * 0.25f; }

void addValue(onnx::ValueInfoProto* v, const std::string& name, int channels) {
  v->set_name(name);
  auto* t = v->mutable_type()->mutable_tensor_type();
  t->set_elem_type(onnx::TensorProto::FLOAT);
  for (int d : {1, channels, kHeight, kWidth}) t->mutable_shape()->add_dim()->set_dim_value(d);
}

void addWeights(onnx::GraphProto& g, const std::string& name, int seed, int outputs, int inputs = kIn) {
  onnx::TensorProto& w = *g.add_initializer();
  w.set_name(name);
  w.set_data_type(onnx::TensorProto::FLOAT);
  for (int d : {outputs, inputs, 1, 1}) w.add_dims(d);
  for (int o = 0; o < outputs; ++o)
    for (int i = 0; i < inputs; ++i) w.add_float_data(weight(seed, o, i));
}

void addInts(onnx::GraphProto& g, const std::string& name, std::vector<int64_t> values) {
  onnx::TensorProto& t = *g.add_initializer();
  t.set_name(name);
  t.set_data_type(onnx::TensorProto::INT64);
  t.add_dims(static_cast<int64_t>(values.size()));
  for (int64_t v : values) t.add_int64_data(v);
}

void addNode(onnx::GraphProto& g, const std::string& op, std::vector<std::string> inputs, const std::string& output) {
  onnx::NodeProto& n = *g.add_node();
  n.set_op_type(op);
  for (const std::string& i : inputs) n.add_input(i);
  n.add_output(output);
  if (op != "Concat") return;
  auto* axis = n.add_attribute();
  axis->set_name("axis");
  axis->set_type(onnx::AttributeProto::INT);
  axis->set_i(1);
}

// wide = Conv(x) 16 channels, thin = Conv(x) 3, part = wide's channels 2
// to 11 (cut from channels last), twice = x + x, square = x * x (also an output), relu = Relu(x),
// neg = Neg(x); joined = [wide, twice, thin, part, x] (channels last, as the
// convolutions leave it), pair = [twice, square, relu] (plain),
// again = [twice, neg, neg]; mixed = Conv(joined) 16 channels; fromRelu =
// Conv([relu, x]) 16 channels, fromNeg = Conv([neg, x]) 3 (float whatever
// the side file says: too thin).
std::string joiningModel() {
  onnx::ModelProto model;
  model.set_ir_version(8);
  model.add_opset_import()->set_version(13);
  onnx::GraphProto& g = *model.mutable_graph();
  addValue(g.add_input(), "x", kIn);
  addWeights(g, "wWide", 1, kWide);
  addWeights(g, "wThin", 2, kThin);
  const int joined = kWide + kIn + kThin + kPart + kIn;
  addWeights(g, "wMixed", 3, kWide, joined);
  addWeights(g, "wRelu", 4, kWide, 2 * kIn);
  addWeights(g, "wNeg", 5, kThin, 2 * kIn);
  addNode(g, "Conv", {"x", "wWide"}, "wide");
  addNode(g, "Conv", {"x", "wThin"}, "thin");
  addInts(g, "starts", {kFrom});
  addInts(g, "ends", {kFrom + kPart});
  addInts(g, "axes", {1});
  addNode(g, "Slice", {"wide", "starts", "ends", "axes"}, "part");
  addNode(g, "Add", {"x", "x"}, "twice");
  addNode(g, "Mul", {"x", "x"}, "square");
  addNode(g, "Relu", {"x"}, "relu");
  addNode(g, "Neg", {"x"}, "neg");
  addNode(g, "Concat", {"wide", "twice", "thin", "part", "x"}, "joined");
  addNode(g, "Concat", {"twice", "square", "relu"}, "pair");
  addNode(g, "Concat", {"twice", "neg", "neg"}, "again");
  addNode(g, "Conv", {"joined", "wMixed"}, "mixed");
  addNode(g, "Concat", {"relu", "x"}, "reluX");
  addNode(g, "Conv", {"reluX", "wRelu"}, "fromRelu");
  addNode(g, "Concat", {"neg", "x"}, "negX");
  addNode(g, "Conv", {"negX", "wNeg"}, "fromNeg");
  addValue(g.add_output(), "joined", joined);
  addValue(g.add_output(), "pair", 3 * kIn);
  addValue(g.add_output(), "again", 3 * kIn);
  addValue(g.add_output(), "square", kIn);
  addValue(g.add_output(), "mixed", kWide);
  addValue(g.add_output(), "fromRelu", kWide);
  addValue(g.add_output(), "fromNeg", kThin);
  return model.SerializeAsString();
}

using Planes = std::vector<std::vector<float>>;  // [channel][pixel]

Planes convolved(const Planes& x, int seed, int outputs) {
  Planes out(outputs, std::vector<float>(kPixels, 0.0f));
  for (int o = 0; o < outputs; ++o)
    for (size_t i = 0; i < x.size(); ++i)
      for (int p = 0; p < kPixels; ++p) out[o][p] += weight(seed, o, static_cast<int>(i)) * x[i][p];
  return out;
}

Planes mapped(const Planes& x, const std::function<float(float)>& f) {
  Planes out = x;
  for (auto& plane : out)
    for (float& v : plane) v = f(v);
  return out;
}

Planes joined(std::initializer_list<Planes> parts) {
  Planes out;
  for (const Planes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

void expectOutput(const Network& net, const std::string& name, const Planes& want, float tolerance) {
  const float* got = net.output(name);
  for (size_t c = 0; c < want.size(); ++c)
    for (int p = 0; p < kPixels; ++p)
      ASSERT_NEAR(got[c * kPixels + p], want[c][p], tolerance) << name << " channel " << c << " pixel " << p;
}

void runAndCheck(Network& net, int seed, float tolerance) {
  Planes x(kIn, std::vector<float>(kPixels));
  float* in = net.input(0);
  for (int c = 0; c < kIn; ++c)
    for (int p = 0; p < kPixels; ++p) in[c * kPixels + p] = x[c][p] = std::cos(static_cast<float>(seed + c * 31 + p));
  net.run();
  const Planes twice = mapped(x, [](float v) { return 2 * v; });
  const Planes square = mapped(x, [](float v) { return v * v; });
  const Planes relu = mapped(x, [](float v) { return std::max(v, 0.0f); });
  const Planes neg = mapped(x, [](float v) { return -v; });
  const Planes wide = convolved(x, 1, kWide);
  const Planes part(wide.begin() + kFrom, wide.begin() + kFrom + kPart);
  const Planes all = joined({wide, twice, convolved(x, 2, kThin), part, x});
  expectOutput(net, "joined", all, tolerance);
  expectOutput(net, "pair", joined({twice, square, relu}), tolerance);
  expectOutput(net, "again", joined({twice, neg, neg}), tolerance);
  expectOutput(net, "fromRelu", convolved(joined({relu, x}), 4, kWide), 4 * tolerance);
  expectOutput(net, "fromNeg", convolved(joined({neg, x}), 5, kThin), 4 * tolerance);
  expectOutput(net, "square", square, tolerance);
  expectOutput(net, "mixed", convolved(all, 3, kWide), 4 * tolerance);
}

}  // namespace

TEST(ConcatInPlace, JoinsWhatItsProducersWroteInPlaceAndCopiesTheRest) {
  const std::string bytes = joiningModel();
  auto net = Network::fromBytes(bytes.data(), bytes.size(), "joining.onnx");
  runAndCheck(*net, 0, 1e-5f);
  runAndCheck(*net, 5, 1e-5f);
  // In int8 (signed, steps of 1/64): the wide convolution, whose output
  // scaled back to float is what is written in place, and the two joins.
  auto quantized = Network::fromBytes(bytes.data(), bytes.size(), "joining.onnx",
                                      "s8 0.015625 x\ns8 0.015625 reluX\ns8 0.015625 negX\n");
  ASSERT_TRUE(quantized->int8());
  runAndCheck(*quantized, 3, 0.01f);
}
