#pragma once
// Plain tensors the loader works on before anything runs: initializers,
// attribute values and the small shape arithmetic that load-time folding
// evaluates. Values are float or 64-bit integer, row-major.
#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrel::vision::engine {

using Dims = std::vector<int64_t>;

// The number of elements of dims, or -1 when a dimension is negative or the
// product would not fit the limit (2^31 elements: far above any model here).
int64_t elementCount(const Dims& dims);

// The row-major strides of dims, in elements.
Dims rowMajorStrides(const Dims& dims);

// dims for a message: "[1,3,8,8]", or with another separator and no
// brackets, "1x3x8x8".
std::string dimsText(const Dims& dims, const std::string& separator = ",", bool bracketed = true);

// Integers that size or index tensors, as read from a model, bounded to
// +-2^30: past any axis the executor takes (2^31 elements in all), so that a
// sentinel such as INT64_MAX still means "to the end" while shape arithmetic
// on them stays inside 64 bits. NaN reads as 0.
constexpr int64_t kWholeLimit = int64_t{1} << 30;
inline int64_t boundedWhole(int64_t v) { return std::clamp(v, -kWholeLimit, kWholeLimit); }
int64_t boundedWhole(double v);

struct HostTensor {
  Dims dims;
  bool integer = false;
  std::vector<float> f;      // when !integer
  std::vector<int64_t> i;    // when integer

  size_t size() const { return integer ? i.size() : f.size(); }
  // Element k as a double or an integer, whatever the type.
  double real(size_t k) const { return integer ? static_cast<double>(i[k]) : f[k]; }
  int64_t whole(size_t k) const { return integer ? boundedWhole(i[k]) : boundedWhole(static_cast<double>(f[k])); }
  std::vector<int64_t> wholes() const;

  static HostTensor floats(Dims dims, std::vector<float> values);
  static HostTensor ints(Dims dims, std::vector<int64_t> values);
};

// A model that the loader cannot take: the text says what and where.
struct ModelError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace kestrel::vision::engine
