#pragma once
#include "probe/front/encode.h"

namespace kestrel {

// Writes one encoded line through buffered standard output.
void writeLine(const std::string& text);

// One record as one JSON line; a record that cannot be encoded is dropped silently.
template <class Record>
void emit(const Record& value) {
  if (auto text = encode(value)) writeLine(*text);
}

}  // namespace kestrel
