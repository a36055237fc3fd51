#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::test {

struct ProcessResult {
  int status = -1;        // exit status, or 128 + signal number
  bool timedOut = false;  // killed after the time limit
  std::string out;        // standard output bytes
  std::string err;        // standard error bytes
  int64_t maxRssKb = 0;   // the child's peak resident memory
};

struct ProcessOptions {
  std::string input;                          // bytes for standard input, then end of input
  std::map<std::string, std::string> env;     // set in addition to the current environment
  std::vector<std::string> unsetEnv;          // removed from the environment
  std::optional<std::string> cwd;             // working directory
  double timeoutSeconds = 120;
  // When set, standard input is written in pieces of these sizes (cycled).
  std::vector<size_t> inputPieces;
  // When set, the child's address space is limited to this many bytes, so a
  // huge allocation fails in it instead of taking the machine's memory.
  std::optional<uint64_t> addressSpaceLimit;
};

// The address-space limit for a child that must not reserve huge buffers.
// Sanitized programs reserve terabytes for their shadow memory, so there the
// limit is off and the peak resident memory is what a test can check.
#ifdef __SANITIZE_ADDRESS__
inline const std::optional<uint64_t> kAddressSpaceGuard;
#else
inline const std::optional<uint64_t> kAddressSpaceGuard = uint64_t{4} << 30;
#endif

// Runs a program with arguments (args[0] is the program path) and collects its outputs.
ProcessResult runProcess(const std::vector<std::string>& args, const ProcessOptions& options = {});

// kestrel-probe with the given arguments.
ProcessResult runProbe(const std::vector<std::string>& args, const ProcessOptions& options = {});

// In a forked child: runs the program args[0] (looked up on PATH when it has
// no slash) with its arguments; never returns, status 127 when it cannot run.
[[noreturn]] void execProgram(const std::vector<std::string>& args);

// Runs a shell command; true when it exits 0. Its output goes to a log that
// is shown in the failure message.
bool shell(const std::string& command, std::string* log = nullptr);

}  // namespace kestrel::test
