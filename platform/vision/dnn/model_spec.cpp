#include "platform/vision/dnn/model_spec.h"

#include "platform/vision/dnn/stage_times.h"

namespace kestrel::vision::dnn {

engine::Network& network(const ModelSpec& spec) { return loadModel(spec.file, spec.contract); }

void loadSoon(const ModelSpec& spec) { loadModelSoon(spec.file, spec.contract); }

bool loaded(const ModelSpec& spec) { return modelLoaded(spec.file); }

void writePicture(const ModelSpec& spec, const cv::Mat& bgr, float* input) {
  const float scale = spec.input.scale, shift = spec.input.shift;
  const size_t cols = static_cast<size_t>(bgr.cols);
  const size_t plane = static_cast<size_t>(bgr.rows) * cols;
  // Planes: a value's channel is `plane` floats after the one before;
  // interleaved: the next float.
  const size_t channel = spec.input.interleaved ? 1 : plane;
  const size_t step = spec.input.interleaved ? 3 : 1;
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

void run(const ModelSpec& spec, engine::Network& net) {
  const StageTimer timer(spec.stage.c_str());
  net.run();
}

void run(const ModelSpec& spec, engine::Network& net, const cv::Mat& bgr) {
  writePicture(spec, bgr, net.input());
  run(spec, net);
}

}  // namespace kestrel::vision::dnn
