#include "probe/audio/audio_inputs.h"

#include "platform/audio/audio_service.h"
#include "probe/audio/select_inputs.h"

namespace kestrel {

std::vector<AudioInput> audioInputs() {
  audio::silenceAudio();
  return selectInputs(audio::listSources());
}

}  // namespace kestrel
