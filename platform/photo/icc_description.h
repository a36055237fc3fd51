#pragma once
#include <cstddef>
#include <string>

namespace kestrel::photo {

// The description text of an ICC profile in UTF-8 ("Display P3"); empty when
// the bytes are not a profile or it has no description.
std::string profileDescription(const void* data, size_t size);

// Wide characters (UTF-32 on this platform) as UTF-8; values that are not
// Unicode scalar values become U+FFFD.
std::string utf8FromWide(const std::wstring& text);

}  // namespace kestrel::photo
