#pragma once
#include <string>

namespace kestrel {

// Records one device to standard output as mono float32 PCM at 48 kHz until
// standard input ends. Never returns.
[[noreturn]] void runRecord(const std::string& deviceId);

}  // namespace kestrel
