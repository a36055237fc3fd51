#include "platform/vision/dnn/vision_model.h"

#include "platform/vision/dnn/stage_times.h"

namespace kestrel::vision::dnn {

engine::Network& network(const VisionModel& model) { return loadModel(model.file, model.contract); }

void loadSoon(const VisionModel& model, LoadTurn turn) { loadModelSoon(model.file, model.contract, turn); }

bool loaded(const VisionModel& model) { return modelLoaded(model.file); }

void writePicture(const VisionModel& model, const cv::Mat& bgr, float* input) {
  const float scale = model.input.scale, shift = model.input.shift;
  const size_t cols = static_cast<size_t>(bgr.cols);
  const size_t plane = static_cast<size_t>(bgr.rows) * cols;
  // Planes: a value's channel is `plane` floats after the one before;
  // interleaved: the next float.
  const size_t channel = model.input.interleaved ? 1 : plane;
  const size_t step = model.input.interleaved ? 3 : 1;
  // Rows side by side: a frame-sized input is a serial step between runs.
#pragma omp parallel for if (plane >= 16384)
  for (int y = 0; y < bgr.rows; ++y) {
    const uint8_t* p = bgr.ptr<uint8_t>(y);
    float* out = input + static_cast<size_t>(y) * cols * step;
    for (int x = 0; x < bgr.cols; ++x, p += 3, out += step) {
      out[0] = p[2] * scale + shift;
      out[channel] = p[1] * scale + shift;
      out[2 * channel] = p[0] * scale + shift;
    }
  }
}

void run(const VisionModel& model, engine::Network& net) {
  const StageTimer timer(model.stage.c_str());
  net.run();
}

void run(const VisionModel& model, engine::Network& net, const cv::Mat& bgr) {
  writePicture(model, bgr, net.input());
  run(model, net);
}

}  // namespace kestrel::vision::dnn
