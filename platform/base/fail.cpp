#include "platform/base/fail.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/base/standard_output.h"
#include "platform/base/write_all.h"
#include "platform/quiet_stderr.h"

namespace kestrel {
namespace {

// The message as one line: control characters written as escapes.
std::string oneLine(std::string_view message) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string line;
  line.reserve(message.size() + 1);
  for (const char ch : message) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte >= 0x20 && byte != 0x7F) {
      line.push_back(ch);
    } else if (ch == '\n') {
      line += "\\n";
    } else if (ch == '\r') {
      line += "\\r";
    } else if (ch == '\t') {
      line += "\\t";
    } else {
      line += "\\x";
      line.push_back(kHex[byte >> 4]);
      line.push_back(kHex[byte & 0xF]);
    }
  }
  line.push_back('\n');
  return line;
}

}  // namespace

void fail(std::string_view message) {
  flushLinesWhileFailing();
  const std::string line = oneLine(message);
  // Another thread may be silencing standard error around a library call.
  QuietStderr::whileLoud([&](int fd) {
    writeAll(fd, line.data(), line.size());
    std::_Exit(1);
  });
  std::_Exit(1);
}

std::string cantWriteOutput(int error) {
  return std::string("can't write standard output: ") + std::strerror(error);
}

void outputRefused(int error) {
  if (error == EPIPE) std::_Exit(0);
  fail(cantWriteOutput(error));
}

}  // namespace kestrel
