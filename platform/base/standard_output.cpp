#include "platform/base/standard_output.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "platform/base/fail.h"
#include "platform/base/line_blocks.h"
#include "platform/base/write_all.h"

namespace kestrel {
namespace {

// A write of up to PIPE_BUF bytes enters a pipe in one piece.
constexpr size_t kBlockBytes = PIPE_BUF;

std::mutex& outputMutex() {
  static std::mutex m;
  return m;
}

void flushAtExit();

// Made on the first line. A plain exit still sends and checks what is held:
// the handler, registered once the lines and their lock are made, runs
// before either goes.
LineBlocks& lines() {
  outputMutex();
  static LineBlocks blocks(kBlockBytes, [](const char* data, size_t size) {
    return writeAll(STDOUT_FILENO, data, size) ? 0 : errno;
  });
  static const int registered = std::atexit(flushAtExit);
  (void)registered;
  return blocks;
}

// The refusal is reported once the lock is let go: failing flushes the lines.
template <class Step>
void guarded(Step step) {
  int error = 0;
  {
    const std::lock_guard lock(outputMutex());
    error = step(lines());
  }
  if (error) outputRefused(error);
}

void flushAtExit() { flushLines(); }

}  // namespace

void writeLine(std::string_view line) {
  guarded([&](LineBlocks& blocks) { return blocks.add(line); });
}

void flushLines() {
  guarded([](LineBlocks& blocks) { return blocks.flush(); });
}

void flushLinesWhileFailing() {
  const std::lock_guard lock(outputMutex());
  lines().flush();
}

}  // namespace kestrel
