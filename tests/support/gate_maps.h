#pragma once
// Plain planes of width x height bytes as the maps the gate works on.
#include <cstdint>

#include "probe/cutout/gate_and_restore.h"

namespace kestrel::test {

inline GateMaps gateMaps(int64_t width, int64_t height, uint8_t* mask, const uint8_t* instanceMask,
                         uint8_t* personWide, uint8_t* personMask, int32_t* componentIds) {
  return {greyPlane(mask, width, height), greyPlane(instanceMask, width, height),
          greyPlane(personWide, width, height), greyPlane(personMask, width, height),
          {componentIds, static_cast<size_t>(width * height)}};
}

}  // namespace kestrel::test
