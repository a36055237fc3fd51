#include "platform/vision/dnn/rvm.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "platform/vision/dnn/vision_model.h"

namespace kestrel::vision {

// A stream's state lives in the outputs of the network that made it. Only
// when another stream or a picture is about to run that network is it copied
// out (`kept`), to be copied back in at the stream's next frame.
struct MatteState {
  const engine::Network* net = nullptr;  // the network of the stream's last frame
  bool inNetwork = false;                // in net's outputs, else in `kept`
  std::vector<std::vector<float>> kept;  // r1..r4
};

namespace dnn {
namespace {

constexpr size_t kStates = 4;

// models/recipes/rvm.sh makes each. The downsample ratio sets the size the
// encoder and decoder see (the input times the ratio); the refiner works at
// the input's size. At 0.25 of 640x360 the man turned away in Debian's
// basketball photo fades to 80/255, so the fast level's encoder sees
// 208x117 (as at 0.325) and it saves on the refiner too: its input is
// 320x180, its edges twice as coarse. The balanced level's encoder sees
// 240x135, as at 0.375, from a 480x270 input.
const VideoMatteModel kAccurate{"rvm_640x360.onnx", 640, 360};        // ratio 0.5
const VideoMatteModel kBalanced{"rvm_480x270_r50.onnx", 480, 270};    // ratio 0.5
const VideoMatteModel kFast{"rvm_320x180_r65.onnx", 320, 180};       // ratio 0.65

// The states' inputs are checked once loaded, against their outputs.
VisionModel visionModelOf(const VideoMatteModel& m) {
  return {m.file, {{}, {{"pha", {1, 1, m.height, m.width}}}}, "model rvm", {}};
}

size_t elements(const engine::Dims& dims) {
  size_t n = 1;
  for (auto d : dims) n *= static_cast<size_t>(d);
  return n;
}

// The recurrent states are r1i..r4i in and r1o..r4o out.
std::string stateName(size_t s, char io) { return "r" + std::to_string(s + 1) + io; }

// The network, with each recurrent state's input checked against the output
// that feeds it on the next frame, and the stream whose state its outputs
// hold since its last run (none after a single picture).
struct Rvm {
  engine::Network& net;
  std::array<size_t, kStates> stateSize{};
  std::weak_ptr<MatteState> holder;
};

Rvm load(const VideoMatteModel& m) {
  engine::Network& net = network(visionModelOf(m));
  Rvm r{net, {}, {}};
  for (size_t k = 0; k < net.inputCount(); ++k) {
    const std::string& name = net.inputName(k);
    if (name == "src") net.expectInput(k, {1, 3, m.height, m.width});
    for (size_t s = 0; s < kStates; ++s)
      if (name == stateName(s, 'i')) {
        net.expectOutput(stateName(s, 'o'), net.inputDims(k));
        r.stateSize[s] = elements(net.inputDims(k));
      }
  }
  net.input("src");  // throws when the model lacks it
  return r;
}

Rvm& rvm(const VideoMatteModel& m) {
  static std::mutex guard;
  static std::map<std::string, Rvm> loaded;
  const std::lock_guard<std::mutex> lock(guard);
  auto it = loaded.find(m.file);
  if (it == loaded.end()) it = loaded.emplace(m.file, load(m)).first;
  return it->second;
}

// Fills the state inputs for a run on behalf of `state` (none: a picture),
// first saving the state another stream left in the outputs.
void setStates(Rvm& model, MatteState* state) {
  engine::Network& net = model.net;
  const std::shared_ptr<MatteState> held = model.holder.lock();
  if (held && held.get() != state && held->net == &net && held->inNetwork) {
    held->kept.resize(kStates);
    for (size_t s = 0; s < kStates; ++s) {
      const float* out = net.output(stateName(s, 'o'));
      held->kept[s].assign(out, out + model.stateSize[s]);
    }
    held->inNetwork = false;
  }
  const bool ours = state && state->net == &net;
  for (size_t s = 0; s < kStates; ++s) {
    float* in = net.input(stateName(s, 'i'));
    if (ours && state->inNetwork)
      std::copy_n(net.output(stateName(s, 'o')), model.stateSize[s], in);
    else if (ours)
      std::copy(state->kept[s].begin(), state->kept[s].end(), in);
    else
      std::fill(in, in + model.stateSize[s], 0.0f);
  }
}

}  // namespace

cv::Rect placeInside(const cv::Size& picture, const cv::Size& input) {
  const double f = std::min(static_cast<double>(input.width) / picture.width,
                            static_cast<double>(input.height) / picture.height);
  const int w = std::clamp(static_cast<int>(std::lround(picture.width * f)), 1, input.width);
  const int h = std::clamp(static_cast<int>(std::lround(picture.height * f)), 1, input.height);
  return cv::Rect((input.width - w) / 2, (input.height - h) / 2, w, h);
}

const VideoMatteModel& videoMatteModel(PersonQuality quality) {
  switch (quality) {
    case PersonQuality::Fast: return kFast;
    case PersonQuality::Balanced: return kBalanced;
    case PersonQuality::Accurate: break;
  }
  return kAccurate;
}

const VideoMatteModel& instancesMatteModel() { return kAccurate; }

void prepareVideoMatte(const VideoMatteModel& m) { loadSoon(visionModelOf(m)); }

cv::Mat videoMatte(const cv::Mat& bgr, StreamSession* session, const VideoMatteModel& m) {
  const VisionModel described = visionModelOf(m);
  Rvm& model = rvm(m);
  engine::Network& net = model.net;
  const cv::Rect inner = placeInside(bgr.size(), cv::Size(m.width, m.height));

  cv::Mat input(m.height, m.width, CV_8UC3, cv::Scalar::all(0));
  cv::Mat placed = input(inner);
  cv::resize(bgr, placed, inner.size(), 0, 0, inner.width < bgr.cols ? cv::INTER_AREA : cv::INTER_LINEAR);
  writePicture(described, input, net.input("src"));

  if (session && !session->matteState) session->matteState = std::make_shared<MatteState>();
  MatteState* state = session ? session->matteState.get() : nullptr;
  setStates(model, state);
  run(described, net);
  model.holder.reset();
  if (state) {
    state->net = &net;
    state->inNetwork = true;
    model.holder = session->matteState;
  }
  const cv::Mat alpha(m.height, m.width, CV_32F, const_cast<float*>(net.output("pha")));
  return alpha(inner).clone();
}

}  // namespace dnn
}  // namespace kestrel::vision
