#pragma once
#include <string_view>

namespace kestrel {

// Ends the process: flushes what was emitted, writes the message and one line
// feed to standard error in one block, exits with status 1.
[[noreturn]] void fail(std::string_view message);

}  // namespace kestrel
