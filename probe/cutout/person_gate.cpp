#include "probe/cutout/person_gate.h"

#include "platform/imaging/imaging.h"
#include "probe/cutout/gate_and_restore.h"

namespace kestrel {

int64_t personGate(int64_t width, int64_t height, uint8_t* mask, const uint8_t* instanceMask,
                   uint8_t* personWide, uint8_t* personMask, int32_t* componentIds,
                   const vision::Matte& person, double radius, int64_t chin) {
  // A matte whose bytes do not cover its size is treated as no matte: the maps go empty.
  const bool whole =
      person.width > 0 && person.height > 0 &&
      static_cast<uint64_t>(person.width) <= person.pixels.size() / static_cast<uint64_t>(person.height);
  const imaging::GreyView matte{whole ? person.pixels.data() : nullptr, person.width,
                                person.height, person.width};
  // Platform failures leave the maps zeroed; the frame goes on regardless.
  imaging::scaleMatte(matte, personMask, width, height);
  imaging::dilateDisk(personMask, personWide, width, height, radius);
  return gateAndRestore(width, height, mask, instanceMask, personWide, personMask, componentIds,
                        chin);
}

}  // namespace kestrel
