#include "probe/mode_program.h"

#include <dlfcn.h>
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

// Loading a model passes its weights through several copies (RVM's 15 MB
// three times, ISNet's 176 MB four), each in fresh pages. On a virtual machine
// each 4 KB page's fault cost about 8 us: RVM took 90 ms to read and ISNet
// 1.1 s, a second core's whole time through a stream's first 30 frames.
// glibc's malloc asks for 2 MB pages when told to, and only in one arena for
// all threads (the loads run on a thread of their own, whose arena would not
// be); it reads both once, as it loads, from GLIBC_TUNABLES. Settings the
// caller gives come after these and win.
void setModelMemory() {
  const std::string ours = "glibc.malloc.hugetlb=1:glibc.malloc.arena_max=1";
  const char* caller = std::getenv("GLIBC_TUNABLES");
  ::setenv("GLIBC_TUNABLES", caller && *caller ? (ours + ":" + caller).c_str() : ours.c_str(), 1);
}

// `file` in lib/kestrel/ beside this program's bin/, from the program's own
// file with links resolved: an installation reached through a link on the
// PATH still finds its modes. Ends the run when /proc/self/exe can't be read.
std::filesystem::path modeFile(const std::string& file, const char* verb) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path path = (self.parent_path() / ".." / "lib" / "kestrel" / file).lexically_normal();
  if (ec) fail(std::string("can't ") + verb + " " + path.string() + ": " + ec.message());
  return path;
}

}  // namespace

void runModeProgram(const char* name, char** argv, ModeMemory memory) {
  const std::filesystem::path program = modeFile(name, "start");
  setThreadSpin();
  if (memory == ModeMemory::Models) setModelMemory();
  ::execv(program.c_str(), argv);
  fail("can't start " + program.string() + ": " + std::strerror(errno));
}

void runModeModule(const char* name, int argc, char** argv) {
  const std::filesystem::path module = modeFile(std::string(name) + ".so", "load");
  // Lazy binding: a module resolves only the functions its run calls.
  void* handle = ::dlopen(module.c_str(), RTLD_LAZY | RTLD_LOCAL);
  void* entry = handle ? ::dlsym(handle, kModeEntry) : nullptr;
  if (!entry) {
    // dlerror's text starts with the file's path; the line names it once.
    std::string why = ::dlerror();
    if (why.rfind(module.string() + ": ", 0) == 0) why.erase(0, module.string().size() + 2);
    fail("can't load " + module.string() + ": " + why);
  }
  reinterpret_cast<void (*)(int, char**)>(entry)(argc, argv);
  std::abort();  // a mode's entry ends the run itself
}

}  // namespace kestrel
