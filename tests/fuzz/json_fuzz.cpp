// libFuzzer target: the JSON writer with arbitrary strings and doubles. Every
// text it calls usable is read back by a small strict parser here and must
// give exactly the values written; it must refuse exactly the invalid UTF-8
// strings and the non-finite numbers.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "probe/front/encode.h"
#include "probe/front/json.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Well-formed UTF-8 as the Unicode standard's table 3-7 gives it, decoded to
// code points.
bool validUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned c = static_cast<unsigned char>(s[i]);
    int n;
    uint32_t cp;
    if (c < 0x80) n = 0, cp = c;
    else if ((c & 0xE0) == 0xC0) n = 1, cp = c & 0x1F;
    else if ((c & 0xF0) == 0xE0) n = 2, cp = c & 0x0F;
    else if ((c & 0xF8) == 0xF0) n = 3, cp = c & 0x07;
    else return false;
    for (int k = 1; k <= n; ++k) {
      if (i + k >= s.size()) return false;
      const unsigned d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += static_cast<size_t>(n) + 1;
  }
  return true;
}

using Value = std::variant<std::string, double, int64_t>;

struct Reader {
  const std::string& t;
  size_t i = 0;
  bool eat(char c) {
    if (i < t.size() && t[i] == c) return ++i, true;
    return false;
  }
  bool string(std::string& out) {
    if (!eat('"')) return false;
    while (i < t.size() && t[i] != '"') {
      const unsigned char c = static_cast<unsigned char>(t[i]);
      if (c < 0x20) return false;
      if (c != '\\') {
        out.push_back(t[i++]);
        continue;
      }
      if (++i >= t.size()) return false;
      const char e = t[i++];
      const char* plain = std::strchr("\"\\/bfnrt", e);
      if (!plain || e == 0) {
        if (e != 'u' || i + 4 > t.size() || t.compare(i, 2, "00") != 0) return false;
        out.push_back(static_cast<char>(std::strtol(t.substr(i, 4).c_str(), nullptr, 16)));
        i += 4;
        continue;
      }
      out.push_back("\"\\/\b\f\n\r\t"[plain - "\"\\/bfnrt"]);
    }
    return eat('"');
  }
  bool number(std::string& text) {
    const size_t from = i;
    while (i < t.size() && std::strchr("+-.0123456789eE", t[i]) && t[i]) ++i;
    text = t.substr(from, i - from);
    return i > from;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel;
  FuzzedDataProvider in(data, size);
  // Whole records: dropped exactly when a string in them is not UTF-8. The
  // string is drawn first, while the input still has bytes (after the loop
  // below it was nearly always empty).
  const std::string profile = in.ConsumeRandomLengthString(32);
  PhotoInfo info;
  info.profile = profile;
  kestrel::fuzz::check(encode(info).has_value() == validUtf8(profile));

  kestrel::JsonWriter w;
  std::vector<Value> written;
  bool valid = true;
  w.beginArray();
  while (in.remaining_bytes() > 0 && written.size() < 64) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
      case 0: {
        const std::string s = in.ConsumeRandomLengthString(64);
        valid = valid && validUtf8(s);
        w.string(s);
        written.emplace_back(s);
        break;
      }
      case 1: {
        uint64_t bits = in.ConsumeIntegral<uint64_t>();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        valid = valid && std::isfinite(d);
        w.number(d);
        written.emplace_back(d);
        break;
      }
      case 2: {
        const int64_t v = in.ConsumeIntegral<int64_t>();
        w.integer(v);
        written.emplace_back(v);
        break;
      }
      case 3: {
        // A one-key object: the key goes through the same escaping.
        const std::string k = in.ConsumeRandomLengthString(16);
        valid = valid && validUtf8(k);
        w.beginObject();
        w.key(k);
        w.integer(0);
        w.endObject();
        written.emplace_back(k);
        break;
      }
    }
  }
  w.endArray();
  kestrel::fuzz::check(w.ok() == valid);
  if (!valid) return 0;

  const std::string& text = w.text();
  Reader r{text};
  kestrel::fuzz::check(r.eat('['));
  for (size_t k = 0; k < written.size(); ++k) {
    if (k > 0) kestrel::fuzz::check(r.eat(','));
    if (const auto* s = std::get_if<std::string>(&written[k])) {
      std::string got;
      const bool object = r.eat('{');
      kestrel::fuzz::check(r.string(got) && got == *s);
      if (object) kestrel::fuzz::check(r.eat(':') && r.eat('0') && r.eat('}'));
    } else {
      std::string number;
      kestrel::fuzz::check(r.number(number));
      if (const auto* d = std::get_if<double>(&written[k])) {
        const double back = std::strtod(number.c_str(), nullptr);
        kestrel::fuzz::check(std::memcmp(&back, d, sizeof back) == 0);
      } else {
        kestrel::fuzz::check(number == std::to_string(std::get<int64_t>(written[k])));
      }
    }
  }
  kestrel::fuzz::check(r.eat(']') && r.i == text.size());

  return 0;
}
