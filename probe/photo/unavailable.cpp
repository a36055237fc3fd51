#include "probe/front/fail.h"
#include "probe/photo/photo.h"

namespace kestrel {

void runPhoto(const std::string&, const std::string&, int64_t) {
  fail("--photo is not available in this build");
}

}  // namespace kestrel
