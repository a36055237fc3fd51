#include "probe/cutout/person_gate.h"

#include "platform/imaging/imaging.h"
#include "probe/cutout/gate_and_restore.h"
#include "probe/cutout/matte_render.h"

namespace kestrel {

int64_t personGate(int64_t width, int64_t height, uint8_t* mask, const uint8_t* instanceMask,
                   uint8_t* personWide, uint8_t* personMask, int32_t* componentIds,
                   const vision::Matte& person, double radius, int64_t chin) {
  // Platform failures leave the maps zeroed; the frame goes on regardless.
  renderMatte(person, width, height, personMask);
  imaging::dilateDisk(personMask, personWide, width, height, radius);
  return gateAndRestore(width, height, mask, instanceMask, personWide, personMask, componentIds,
                        chin);
}

}  // namespace kestrel
