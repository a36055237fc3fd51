#pragma once
#include "platform/base/standard_output.h"
#include "probe/front/encode.h"

namespace kestrel {

// One record as one JSON line on standard output; a record that cannot be
// encoded is dropped silently.
template <class Record>
void emit(const Record& value) {
  if (auto text = encode(value)) writeLine(*text);
}

}  // namespace kestrel
