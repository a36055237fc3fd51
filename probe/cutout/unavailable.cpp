#include "probe/cutout/cutout_stream.h"
#include "probe/cutout/person_stream.h"
#include "probe/front/fail.h"

namespace kestrel {

void runCutout(int64_t, int64_t) { fail("--cutout is not available in this build"); }
void runPerson(int64_t, int64_t, const std::string&) {
  fail("--person is not available in this build");
}

}  // namespace kestrel
