#include "probe/mode_program.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/base/fail.h"

namespace kestrel {

void runModeProgram(const char* name, char** argv) {
  namespace fs = std::filesystem;
  // The program's own file, links resolved: an installation reached through a
  // link on the PATH still finds its lib/kestrel/ beside its bin/.
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path program = (self.parent_path() / ".." / "lib" / "kestrel" / name).lexically_normal();
  if (!ec) ::execv(program.c_str(), argv);
  fail("can't start " + program.string() + ": " + std::strerror(ec ? ec.value() : errno));
}

}  // namespace kestrel
