// Linked into the tests and benchmarks (kestrel_build_models): before main,
// points KESTREL_MODELS at the build tree's models unless it is set already.
#include <cstdlib>

namespace {

[[maybe_unused]] const bool kModelsSet = setenv("KESTREL_MODELS", KESTREL_MODEL_DIR, 0) == 0;

}  // namespace
