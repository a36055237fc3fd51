#pragma once
#include <vector>

#include "platform/audio/audio_service.h"
#include "probe/front/records.h"

namespace kestrel {

// The sources that are microphones, in the server's order: monitors of
// outputs, sources without channels and sources without a name are left out;
// only the default source is marked.
std::vector<AudioInput> selectInputs(const audio::SourceList& list);

}  // namespace kestrel
