#pragma once

namespace kestrel {

// The least share of a cut region that must lie in front of the person.
inline constexpr double IN_FRONT = 1.0 / 3.0;
// The least size of the gate's cut, and of a restored region, as a share of the frame.
inline constexpr double IN_FRONT_MIN = 0.001;

}  // namespace kestrel
