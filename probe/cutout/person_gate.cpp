#include "probe/cutout/person_gate.h"

#include "platform/imaging/imaging.h"

namespace kestrel {

int64_t personGate(const GateMaps& maps, const vision::Matte& person, double radius, int64_t chin) {
  // Platform failures leave the maps zeroed; the frame goes on regardless.
  imaging::scaleMatte(vision::view(person), maps.personMask);
  imaging::dilateDisk(maps.personMask, maps.personWide, radius);
  return gateAndRestore(maps, chin);
}

}  // namespace kestrel
