#include "probe/front/emit.h"

#include <cstdio>

namespace kestrel {

void writeLine(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace kestrel
