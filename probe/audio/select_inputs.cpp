#include "probe/audio/select_inputs.h"

namespace kestrel {

std::vector<AudioInput> selectInputs(const audio::SourceList& list) {
  std::vector<AudioInput> inputs;
  for (const auto& source : list.sources) {
    if (source.monitor || source.channels < 1 || !source.name) continue;
    inputs.push_back({source.id, *source.name, list.defaultId && *list.defaultId == source.id});
  }
  return inputs;
}

}  // namespace kestrel
