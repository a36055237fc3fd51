#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::tone {

// Writes the bytes to a temporary file beside `path` and renames it into
// place, so that either the complete new file is there or nothing changed.
// Returns the system's error description on failure, leaving nothing behind.
std::optional<std::string> writeAtomically(const std::string& path, std::string_view bytes);

}  // namespace kestrel::tone
