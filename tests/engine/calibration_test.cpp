// Calibration watches runs: each run widens the range of every float
// convolution input that int8 could take, leaving out the outermost
// 1/10000 of its values at each end; a profiled run counts as a run. The
// side file's scales turn the same convolution to int8.
#include <gtest/gtest.h>

#include <onnx/onnx_pb.h>

#include <cmath>

#include "platform/vision/engine/network.h"

using namespace kestrel::vision::engine;

namespace {

constexpr int kChannels = 16, kHeight = 25, kWidth = 50;
constexpr int kCount = kChannels * kHeight * kWidth;  // 20000: two values left out at each end

onnx::NodeProto& addNode(onnx::GraphProto& g, const char* op, std::initializer_list<const char*> inputs,
                         const char* output) {
  onnx::NodeProto& node = *g.add_node();
  node.set_op_type(op);
  for (const char* input : inputs) node.add_input(input);
  node.add_output(output);
  return node;
}

// x -> Identity -> seen -> 1x1 Conv (16 to 16 channels) -> y.
std::string convolutionModel() {
  onnx::ModelProto model;
  model.set_ir_version(8);
  model.add_opset_import()->set_version(13);
  onnx::GraphProto& g = *model.mutable_graph();
  auto value = [](onnx::ValueInfoProto* v, const char* name) {
    v->set_name(name);
    auto* t = v->mutable_type()->mutable_tensor_type();
    t->set_elem_type(onnx::TensorProto::FLOAT);
    for (int d : {1, kChannels, kHeight, kWidth}) t->mutable_shape()->add_dim()->set_dim_value(d);
  };
  value(g.add_input(), "x");
  value(g.add_output(), "y");
  onnx::TensorProto& w = *g.add_initializer();
  w.set_name("w");
  w.set_data_type(onnx::TensorProto::FLOAT);
  for (int d : {kChannels, kChannels, 1, 1}) w.add_dims(d);
  for (int o = 0; o < kChannels; ++o)
    for (int i = 0; i < kChannels; ++i) w.add_float_data(o == i ? 1.0f : 0.0f);
  addNode(g, "Identity", {"x"}, "seen");
  addNode(g, "Conv", {"seen", "w"}, "y");
  return model.SerializeAsString();
}

// x -> Identity -> seen -> 1x1 Conv -> part; Concat(part, seen) -> joined ->
// 1x1 Conv (32 to 16 channels) -> y: a join read by one convolution alone.
std::string joinedModel() {
  onnx::ModelProto model;
  model.ParseFromString(convolutionModel());
  onnx::GraphProto& g = *model.mutable_graph();
  g.mutable_node(1)->set_output(0, "part");
  onnx::AttributeProto& axis = *addNode(g, "Concat", {"part", "seen"}, "joined").add_attribute();
  axis.set_name("axis");
  axis.set_type(onnx::AttributeProto::INT);
  axis.set_i(1);
  onnx::TensorProto& w = *g.add_initializer();
  w.set_name("wj");
  w.set_data_type(onnx::TensorProto::FLOAT);
  for (int d : {kChannels, 2 * kChannels, 1, 1}) w.add_dims(d);
  for (int o = 0; o < kChannels; ++o)
    for (int i = 0; i < 2 * kChannels; ++i) w.add_float_data(static_cast<float>((o + 3 * i) % 7) - 3.0f);
  addNode(g, "Conv", {"joined", "wj"}, "y");
  return model.SerializeAsString();
}

// Values in [-scale, scale) with two outliers at each end.
void fill(Network& net, float scale) {
  float* x = net.input(0);
  for (int k = 0; k < kCount; ++k) x[k] = scale * (static_cast<float>(k % 1000) / 500.0f - 1.0f);
  x[7] = -1000;
  x[8] = -999;
  x[9] = 1000;
  x[10] = 999;
}

double meanSquare(const Network& net) {
  const float* y = net.output("y");  // the identity convolution: its input
  double sum = 0;
  for (int k = 0; k < kCount; ++k) sum += static_cast<double>(y[k]) * y[k];
  return sum / kCount;
}

}  // namespace

TEST(Calibration, WidensTheTrimmedRangeOfEachConvolutionInputOverRuns) {
  const std::string bytes = convolutionModel();
  auto net = Network::fromBytes(bytes.data(), bytes.size(), "calibration.onnx");
  EXPECT_FALSE(net->int8());
  fill(*net, 1.0f);
  net->run();
  EXPECT_TRUE(net->ranges().empty()) << "nothing is recorded before recordRanges";

  net->recordRanges();
  net->run();
  const double first = meanSquare(*net);
  fill(*net, 2.0f);
  net->profile();
  const double second = meanSquare(*net);
  const auto ranges = net->ranges();
  ASSERT_EQ(ranges.size(), 1u);
  const ValueRange& r = ranges.at("seen");
  EXPECT_EQ(r.runs, 2);
  // The third value from each end: the two outliers left out.
  EXPECT_FLOAT_EQ(r.lo, -2.0f);
  EXPECT_FLOAT_EQ(r.hi, 2.0f * (999.0f / 500.0f - 1.0f));
  EXPECT_NEAR(r.meanSquare, (first + second) / 2, 1e-6 * second);

  // A scale for the convolution's input in the side file: int8.
  auto quantized = Network::fromBytes(bytes.data(), bytes.size(), "calibration.onnx", "u8 0.01 seen\n");
  EXPECT_TRUE(quantized->int8());
}

// A run may read a join part by part, never making it; calibration sees it
// made, so that the join is one input with one scale, and the numbers agree.
TEST(Calibration, SeesAJoinWholeThatARunMayReadPartByPart) {
  const std::string bytes = joinedModel();
  auto calibrating = Network::fromBytes(bytes.data(), bytes.size(), "joined.onnx", "", true);
  auto running = Network::fromBytes(bytes.data(), bytes.size(), "joined.onnx");
  calibrating->recordRanges();
  for (Network* net : {calibrating.get(), running.get()}) {
    fill(*net, 1.0f);
    net->run();
  }
  const auto ranges = calibrating->ranges();
  ASSERT_TRUE(ranges.count("joined"));
  EXPECT_FLOAT_EQ(ranges.at("joined").lo, -1.0f);
  const float* want = calibrating->output("y");
  const float* got = running->output("y");
  for (int k = 0; k < kCount; ++k) ASSERT_NEAR(got[k], want[k], 1e-3f * (1 + std::fabs(want[k]))) << k;
}
