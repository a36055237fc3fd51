#include "platform/vision/engine/redirect.h"

#include <string>

namespace kestrel::vision::engine {
namespace {

// The op descriptor of pd as its own type, with dst in place of its destination.
template <typename Desc>
std::optional<dnnl::primitive_desc_base> remade(const dnnl::primitive_desc_base& pd, const dnnl::memory::desc& dst,
                                                const dnnl::engine& eng) {
  const_dnnl_op_desc_t op = nullptr;
  if (dnnl_primitive_desc_query(pd.get(), dnnl_query_op_d, 0, &op) != dnnl_success || !op) return std::nullopt;
  Desc d = *static_cast<const Desc*>(op);
  d.dst_desc = dst.data;
  const dnnl::primitive_attr attr = pd.get_primitive_attr();
  dnnl_primitive_desc_t made = nullptr;
  if (dnnl_primitive_desc_create(&made, &d, attr.get(), eng.get(), nullptr) != dnnl_success) return std::nullopt;
  dnnl::primitive_desc_base out;
  out.reset(made);
  return out;
}

}  // namespace

std::optional<dnnl::primitive_desc_base> withDestination(const dnnl::primitive_desc_base& pd,
                                                         const dnnl::memory::desc& dst, const dnnl::engine& eng) {
  std::optional<dnnl::primitive_desc_base> out;
  using Kind = dnnl::primitive::kind;
  try {
    switch (pd.get_kind()) {
      case Kind::convolution:
      case Kind::deconvolution:
        out = remade<dnnl_convolution_desc_t>(pd, dst, eng);
        break;
      case Kind::binary:
        out = remade<dnnl_binary_desc_t>(pd, dst, eng);
        break;
      case Kind::pooling_v2:
        out = remade<dnnl_pooling_v2_desc_t>(pd, dst, eng);
        break;
      case Kind::resampling:
        out = remade<dnnl_resampling_desc_t>(pd, dst, eng);
        break;
      case Kind::matmul:
        out = remade<dnnl_matmul_desc_t>(pd, dst, eng);
        break;
      case Kind::reorder: {
        // Reorders are memory-bound whatever the kernel: any but the reference loops will do.
        dnnl::reorder::primitive_desc r(eng, pd.src_desc(), eng, dst, pd.get_primitive_attr(), true);
        if (r && std::string(r.impl_info_str()).rfind("ref", 0) != 0) return r;
        return std::nullopt;
      }
      default:
        return std::nullopt;
    }
  } catch (const dnnl::error&) {
    return std::nullopt;
  }
  if (out && std::string(out->impl_info_str()) != pd.impl_info_str()) return std::nullopt;
  return out;
}

}  // namespace kestrel::vision::engine
