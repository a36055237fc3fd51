#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace kestrel {

// Lines gathered into blocks before they go out, each block whole lines only:
// whatever has gone out when the process is killed parses line by line.
class LineBlocks {
 public:
  // Takes all the bytes it is given, or returns the system's error number.
  using Sink = std::function<int(const char* data, size_t size)>;

  LineBlocks(size_t blockBytes, Sink sink);

  // Holds one line and its line feed. The held lines go out first when the
  // line would not fit in their block; a line as long as a block or longer
  // goes out alone, whole, in one piece. 0, or the sink's error, after which
  // what was held is dropped.
  int add(std::string_view line);
  // Sends the held lines; 0 or the sink's error.
  int flush();

 private:
  size_t block_;
  Sink sink_;
  std::string held_;
};

}  // namespace kestrel
