// Models load once per process whichever thread asks first, also when a
// stream starts loading them in the background.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/vision/dnn/model_files.h"

using namespace kestrel::vision;

TEST(ModelLoading, EveryThreadGetsTheOneLoadAndEveryAskerItsFailure) {
  const std::string name = "facemesh.onnx";
  const dnn::ModelContract contract{{{1, 3, 192, 192}}, {}};
  dnn::loadModelSoon(name, contract);
  std::vector<engine::Network*> seen(4, nullptr);
  std::vector<std::thread> askers;
  for (size_t k = 0; k < seen.size(); ++k)
    askers.emplace_back([&, k] { seen[k] = &dnn::loadModel(name, contract); });
  for (auto& t : askers) t.join();
  EXPECT_TRUE(dnn::modelLoaded(name));
  for (engine::Network* n : seen) EXPECT_EQ(n, seen[0]);

  // A missing file fails the same way for the background load and each asker.
  dnn::loadModelSoon("no_such_model.onnx", {});
  for (int k = 0; k < 2; ++k) {
    try {
      dnn::loadModel("no_such_model.onnx", {});
      ADD_FAILURE() << "loaded a missing model";
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), "model file no_such_model.onnx is missing; run ./setup to install the models");
    }
  }
}
