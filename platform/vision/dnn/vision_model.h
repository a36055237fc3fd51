#pragma once
// What a module knows of one model, in one record: its file, what it reads
// of it, the stage its runs are timed as and how a picture becomes its input.
// Each module keeps its models' records beside the code that decodes them.
#include <string>

#include <opencv2/core.hpp>

#include "platform/vision/dnn/model_files.h"

namespace kestrel::vision::dnn {

// How an 8-bit picture becomes the model's input: each RGB value v is
// written as v * scale + shift, the channels as planes one after another
// (N, C, H, W), or interleaved (N, H, W, C) when `interleaved`.
struct InputScaling {
  float scale = 1.0f / 255;
  float shift = 0;
  bool interleaved = false;
};

struct VisionModel {
  std::string file;        // in the models folder
  ModelContract contract;  // checked when the model is loaded
  std::string stage;       // the stage its runs count towards (stageTimes)
  InputScaling input;      // how its picture input is written
};

// The model, loaded and checked once per process (loadModel).
engine::Network& network(const VisionModel& model);
// Starts loading it without waiting (loadModelSoon); whether it is ready.
void loadSoon(const VisionModel& model, LoadTurn turn = LoadTurn::Now);
bool loaded(const VisionModel& model);

// Writes an 8-bit BGR picture into an input buffer as the model reads it.
void writePicture(const VisionModel& model, const cv::Mat& bgr, float* input);
// One run, its time added to the model's stage.
void run(const VisionModel& model, engine::Network& net);
// The picture written as the first input, then one run.
void run(const VisionModel& model, engine::Network& net, const cv::Mat& bgr);

}  // namespace kestrel::vision::dnn
