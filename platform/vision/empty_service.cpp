// A service with no models: every request succeeds and finds nothing.
#include "platform/vision/vision.h"

namespace kestrel::vision {
namespace {

class EmptyHandler final : public Handler {
 public:
  explicit EmptyHandler(const Picture& picture) : picture_(picture) {}
  bool perform(const Requests&, Results& results, std::string&) override {
    results = Results{};
    return true;
  }
  bool scaledInstanceMask(const InstanceObservation&, const std::vector<uint8_t>&, Matte& mask,
                          std::string&) override {
    mask.width = picture_.width;
    mask.height = picture_.height;
    mask.pixels.assign(static_cast<size_t>(picture_.width * picture_.height), 0);
    return true;
  }

 private:
  Picture picture_;
};

class EmptyService final : public Service {
 public:
  std::string description() const override { return "none faces humans animals hands"; }
  std::unique_ptr<Handler> handler(const Picture& picture, uint32_t) override {
    return std::make_unique<EmptyHandler>(picture);
  }
};

}  // namespace

Service& service() {
  static EmptyService instance;
  return instance;
}

}  // namespace kestrel::vision
