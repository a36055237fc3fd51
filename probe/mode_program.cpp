#include "probe/mode_program.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/base/fail.h"

namespace kestrel {
namespace {

// How long oneDNN's OpenMP threads spin waiting for work before they sleep.
// libgomp spins 300,000 rounds by default: fastest on idle cores, but where
// the host keeps the cores busy each spinning thread holds a core that the
// thread it waits for needs, and a model ran 5 to 20 times slower. libgomp
// has no call to set the count: it reads GOMP_SPINCOUNT once, as it loads, so
// the front puts it in the environment the mode's program starts with. A
// caller's own GOMP_SPINCOUNT or OMP_WAIT_POLICY is kept.
void setThreadSpin() {
  if (std::getenv("GOMP_SPINCOUNT") || std::getenv("OMP_WAIT_POLICY")) return;
  ::setenv("GOMP_SPINCOUNT", "10000", 0);
}

}  // namespace

void runModeProgram(const char* name, char** argv) {
  namespace fs = std::filesystem;
  // The program's own file, links resolved: an installation reached through a
  // link on the PATH still finds its lib/kestrel/ beside its bin/.
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path program = (self.parent_path() / ".." / "lib" / "kestrel" / name).lexically_normal();
  setThreadSpin();
  if (!ec) ::execv(program.c_str(), argv);
  fail("can't start " + program.string() + ": " + std::strerror(ec ? ec.value() : errno));
}

}  // namespace kestrel
