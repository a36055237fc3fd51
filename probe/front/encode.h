#pragma once
#include <optional>
#include <string>
#include <vector>

#include "probe/front/records.h"

namespace kestrel {

// Each record as one compact JSON text, keys in declaration order; nullopt when
// the record cannot be encoded (a non-finite number, a string that is not UTF-8).
std::optional<std::string> encode(const Info& v);
std::optional<std::string> encode(const Frame& v);
std::optional<std::string> encode(const Done& v);
std::optional<std::string> encode(const PhotoInfo& v);
std::optional<std::string> encode(const std::vector<AudioInput>& v);

}  // namespace kestrel
