#pragma once
#include <string>

namespace kestrel::audio {

// Text from the server as valid UTF-8: bad sequences are replaced, so a record
// holding it can always be written.
std::string validText(const char* text);

}  // namespace kestrel::audio
