// A recurrent state carried from an output back to an input between runs,
// kept in the network's own layout (channels last): over several runs the
// network gives what it gives with the state in the plain layout, and the
// carried state is the plain one with its channels last.
#include <gtest/gtest.h>

#include <onnx/onnx_pb.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/vision/engine/network.h"

using namespace kestrel::vision::engine;

namespace {

constexpr int kChannels = 16, kHeight = 6, kWidth = 7, kSize = kChannels * kHeight * kWidth;

void addValue(onnx::ValueInfoProto* v, const std::string& name) {
  v->set_name(name);
  auto* t = v->mutable_type()->mutable_tensor_type();
  t->set_elem_type(onnx::TensorProto::FLOAT);
  for (int d : {1, kChannels, kHeight, kWidth}) t->mutable_shape()->add_dim()->set_dim_value(d);
}

void addNode(onnx::GraphProto& g, const std::string& op, std::vector<std::string> inputs, const std::string& output) {
  onnx::NodeProto& n = *g.add_node();
  n.set_op_type(op);
  for (const std::string& i : inputs) n.add_input(i);
  n.add_output(output);
}

// next = Conv(x) + state, y = Relu(next): outputs y and next.
std::string recurrentModel() {
  onnx::ModelProto model;
  model.set_ir_version(8);
  model.add_opset_import()->set_version(13);
  onnx::GraphProto& g = *model.mutable_graph();
  addValue(g.add_input(), "x");
  addValue(g.add_input(), "state");
  onnx::TensorProto& w = *g.add_initializer();
  w.set_name("w");
  w.set_data_type(onnx::TensorProto::FLOAT);
  for (int d : {kChannels, kChannels, 1, 1}) w.add_dims(d);
  for (int k = 0; k < kChannels * kChannels; ++k) w.add_float_data(std::sin(static_cast<float>(k * 7 + 3)) * 0.3f);
  addNode(g, "Conv", {"x", "w"}, "mixed");
  addNode(g, "Add", {"mixed", "state"}, "next");
  addNode(g, "Relu", {"next"}, "y");
  addValue(g.add_output(), "y");
  addValue(g.add_output(), "next");
  return model.SerializeAsString();
}

}  // namespace

TEST(CarriedState, RunsAsThePlainStateDoesAndIsKeptChannelsLast) {
  const std::string bytes = recurrentModel();
  const auto plain = Network::fromBytes(bytes.data(), bytes.size(), "plain");
  const auto carried = Network::fromBytes(bytes.data(), bytes.size(), "carried", "", {"state", "next"});
  std::fill_n(plain->input("state"), kSize, 0.0f);
  std::fill_n(carried->input("state"), kSize, 0.0f);  // zeros in any layout
  for (int run = 0; run < 3; ++run) {
    for (int k = 0; k < kSize; ++k) plain->input("x")[k] = carried->input("x")[k] = std::cos(k * 0.37f + run);
    plain->run();
    carried->run();
    SCOPED_TRACE(run);
    for (int k = 0; k < kSize; ++k) ASSERT_NEAR(plain->output("y")[k], carried->output("y")[k], 1e-5f) << k;
    for (int c = 0; c < kChannels; ++c)
      for (int p = 0; p < kHeight * kWidth; ++p)
        ASSERT_NEAR(plain->output("next")[c * kHeight * kWidth + p], carried->output("next")[p * kChannels + c], 1e-5f);
    // The caller only copies the state back, whatever its layout.
    std::memcpy(plain->input("state"), plain->output("next"), kSize * sizeof(float));
    std::memcpy(carried->input("state"), carried->output("next"), kSize * sizeof(float));
  }
}
