#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

// Compact JSON text, written in the order the caller gives. A non-finite
// double or a string that is not valid UTF-8 makes the whole text unusable:
// ok() turns false and the caller drops the record.
class JsonWriter {
 public:
  void beginObject();
  void endObject();
  void beginArray();
  void endArray();
  void key(std::string_view name);
  void string(std::string_view value);
  void number(double value);
  void integer(int64_t value);
  void unsignedInteger(uint64_t value);
  void boolean(bool value);

  bool ok() const { return ok_; }
  const std::string& text() const { return out_; }

 private:
  void separate();

  std::string out_;
  bool ok_ = true;
  bool needComma_ = false;
};

// Standard JSON escaping with the slash escaped too; false for invalid UTF-8.
bool appendJsonString(std::string& out, std::string_view value);

}  // namespace kestrel
