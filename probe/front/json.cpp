#include "probe/front/json.h"

#include <charconv>
#include <cmath>

namespace kestrel {
namespace {

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not well formed.
size_t utf8Length(std::string_view s, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = byte(i);
  if (c < 0x80) return 1;
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  return n;
}

}  // namespace

bool appendJsonString(std::string& out, std::string_view value) {
  static const char hex[] = "0123456789abcdef";
  out.push_back('"');
  for (size_t i = 0; i < value.size();) {
    size_t n = utf8Length(value, i);
    if (n == 0) return false;
    unsigned char c = static_cast<unsigned char>(value[i]);
    if (n > 1) {
      out.append(value.substr(i, n));
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '/') {
      out += "\\/";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\b') {
      out += "\\b";
    } else if (c == '\f') {
      out += "\\f";
    } else if (c < 0x20) {
      out += "\\u00";
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
    i += n;
  }
  out.push_back('"');
  return true;
}

void JsonWriter::separate() {
  if (needComma_) out_.push_back(',');
  needComma_ = true;
}

void JsonWriter::beginObject() {
  separate();
  out_.push_back('{');
  needComma_ = false;
}

void JsonWriter::endObject() {
  out_.push_back('}');
  needComma_ = true;
}

void JsonWriter::beginArray() {
  separate();
  out_.push_back('[');
  needComma_ = false;
}

void JsonWriter::endArray() {
  out_.push_back(']');
  needComma_ = true;
}

void JsonWriter::key(std::string_view name) {
  separate();
  if (!appendJsonString(out_, name)) ok_ = false;
  out_.push_back(':');
  needComma_ = false;
}

void JsonWriter::string(std::string_view value) {
  separate();
  if (!appendJsonString(out_, value)) ok_ = false;
}

void JsonWriter::number(double value) {
  separate();
  if (!std::isfinite(value)) {
    ok_ = false;
    return;
  }
  // The shortest text that reads back to the same double.
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  if (ec != std::errc()) {
    ok_ = false;
    return;
  }
  out_.append(buf, end);
}

void JsonWriter::integer(int64_t value) {
  separate();
  out_ += std::to_string(value);
}

void JsonWriter::unsignedInteger(uint64_t value) {
  separate();
  out_ += std::to_string(value);
}

void JsonWriter::boolean(bool value) {
  separate();
  out_ += value ? "true" : "false";
}

}  // namespace kestrel
