// Models load once per process whichever thread asks first, also when a
// stream starts loading them in the background.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
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

// Loads that wait for the first picture start once it has been analysed, or
// at once when one of them, or a load queued behind one, is asked for; a
// process that ends before then drops them rather than hang.
TEST(ModelLoading, LaterLoadsWaitForTheFirstPictureOrAnAsker) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        dnn::loadModelSoon("iris.onnx", {}, dnn::LoadTurn::AfterFirstPicture);
        std::exit(3);
      },
      testing::ExitedWithCode(3), "");

  const dnn::ModelContract mesh{{{1, 3, 192, 192}}, {}};
  dnn::loadModelSoon("facemesh.onnx", mesh, dnn::LoadTurn::AfterFirstPicture);
  dnn::loadModelSoon("iris.onnx", {});  // queued behind it
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(dnn::modelLoaded("facemesh.onnx"));
  EXPECT_FALSE(dnn::modelLoaded("iris.onnx"));
  // The asker cannot wait for a picture that waits for it: both load, in turn.
  dnn::loadModel("iris.onnx", {});
  EXPECT_TRUE(dnn::modelLoaded("facemesh.onnx"));
  dnn::startLaterLoads();  // later calls do nothing
}

TEST(ModelLoading, LaterLoadsStartOnceThePictureIsAnalysed) {
  const dnn::ModelContract mesh{{{1, 3, 192, 192}}, {}};
  dnn::loadModelSoon("facemesh.onnx", mesh, dnn::LoadTurn::AfterFirstPicture);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(dnn::modelLoaded("facemesh.onnx"));
  dnn::startLaterLoads();
  for (int k = 0; k < 600 && !dnn::modelLoaded("facemesh.onnx"); ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(dnn::modelLoaded("facemesh.onnx"));
}
