#pragma once
#include <cstdint>

#include "platform/media/media_time.h"

namespace kestrel {

// Picks frames at most hz times per second of presentation time, measured from
// the last picked frame. Times are compared exactly across timescales.
class Sampler {
 public:
  explicit Sampler(int64_t hz) : hz_(hz) {}
  // A valid time not earlier than the next allowed one.
  bool due(const media::MediaTime& p) const;
  // The frame at p was analysed: the next one may come 1/hz later.
  void picked(const media::MediaTime& p);

 private:
  int64_t hz_;
  bool started_ = false;  // before the first pick `next` is minus infinity
  __int128 nextValue_ = 0;  // next = nextValue_ / nextScale_
  __int128 nextScale_ = 1;
};

}  // namespace kestrel
