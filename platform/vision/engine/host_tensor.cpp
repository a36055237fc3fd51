#include "platform/vision/engine/host_tensor.h"

namespace kestrel::vision::engine {

int64_t elementCount(const Dims& dims) {
  constexpr int64_t kLimit = int64_t{1} << 31;
  int64_t n = 1;
  for (int64_t d : dims) {
    if (d < 0 || (d > 0 && n > kLimit / d)) return -1;
    n *= d;
  }
  return n;
}

Dims rowMajorStrides(const Dims& dims) {
  Dims s(dims.size(), 1);
  for (size_t k = dims.size(); k-- > 1;) s[k - 1] = s[k] * dims[k];
  return s;
}

std::string dimsText(const Dims& dims, const std::string& separator, bool bracketed) {
  std::string s;
  for (size_t k = 0; k < dims.size(); ++k) s += (k ? separator : "") + std::to_string(dims[k]);
  return bracketed ? "[" + s + "]" : s;
}

int64_t boundedWhole(double v) {
  if (!(v == v)) return 0;
  return static_cast<int64_t>(std::clamp(v, -static_cast<double>(kWholeLimit), static_cast<double>(kWholeLimit)));
}

std::vector<int64_t> HostTensor::wholes() const {
  std::vector<int64_t> out(size());
  for (size_t k = 0; k < out.size(); ++k) out[k] = whole(k);
  return out;
}

HostTensor HostTensor::floats(Dims dims, std::vector<float> values) {
  HostTensor t;
  t.dims = std::move(dims);
  t.f = std::move(values);
  return t;
}

HostTensor HostTensor::ints(Dims dims, std::vector<int64_t> values) {
  HostTensor t;
  t.dims = std::move(dims);
  t.integer = true;
  t.i = std::move(values);
  return t;
}

}  // namespace kestrel::vision::engine
