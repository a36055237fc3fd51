#include "platform/audio/valid_text.h"

#include <pulse/utf8.h>
#include <pulse/xmalloc.h>

namespace kestrel::audio {

std::string validText(const char* text) {
  if (!text) return {};
  char* filtered = pa_utf8_filter(text);
  if (!filtered) return {};
  std::string out(filtered);
  pa_xfree(filtered);
  return out;
}

}  // namespace kestrel::audio
