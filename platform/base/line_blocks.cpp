#include "platform/base/line_blocks.h"

#include <utility>

namespace kestrel {

LineBlocks::LineBlocks(size_t blockBytes, Sink sink) : block_(blockBytes), sink_(std::move(sink)) {
  held_.reserve(block_);
}

int LineBlocks::add(std::string_view line) {
  if (!held_.empty() && held_.size() + line.size() + 1 > block_) {
    if (const int error = flush()) return error;
  }
  held_.append(line);
  held_.push_back('\n');
  return held_.size() >= block_ ? flush() : 0;
}

int LineBlocks::flush() {
  if (held_.empty()) return 0;
  const int error = sink_(held_.data(), held_.size());
  held_.clear();
  return error;
}

}  // namespace kestrel
