#include "platform/vision/engine/program.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <new>

#if defined(__x86_64__)
#include <pmmintrin.h>  // MXCSR: flush to zero, denormals are zero
#endif

#include "platform/vision/engine/arena.h"

namespace kestrel::vision::engine {
namespace {

// Each buffer's life in step numbers: from the first step that touches it
// to the last; inputs and outputs live through the whole run.
std::vector<Lifetime> lifetimes(const std::vector<StepRec>& steps, const std::vector<ValueRec>& values,
                                std::vector<BufferRec>& buffers) {
  const int end = static_cast<int>(steps.size());
  for (int s = 0; s < end; ++s) {
    auto touch = [&](int v) {
      const int b = values[v].buffer;
      if (b < 0) return;
      BufferRec& buf = buffers[b];
      if (buf.first < 0) buf.first = s;
      buf.last = std::max(buf.last, s);
    };
    for (const auto& [arg, v] : steps[s].valueArgs) touch(v);
    for (int v : steps[s].kernelValues) touch(v);
  }
  std::vector<Lifetime> lives;
  for (BufferRec& b : buffers) {
    if (b.pinned) {
      b.first = 0;
      b.last = INT_MAX;
    } else if (b.first < 0) {
      b.first = b.last = 0;  // made but never used: still placed, harmlessly
    }
    lives.push_back({b.bytes, b.first, b.last});
  }
  return lives;
}

#if defined(__x86_64__)
// Floats below 2^-126 cost a microcode assist for each operation that meets
// them, and no network needs them: a run flushes them to zero (FTZ) and reads
// them as zero (DAZ) on the calling thread, whose own mode comes back after,
// and on the OpenMP threads that run oneDNN's steps for it, which belong to
// the runs alone and are set once.
class DenormalsFlushed {
 public:
  DenormalsFlushed() : saved_(_mm_getcsr()) {
    _mm_setcsr(saved_ | kFlush);
    thread_local bool teamSet = false;
    if (teamSet) return;
#pragma omp parallel
    _mm_setcsr(_mm_getcsr() | kFlush);
    teamSet = true;
  }
  ~DenormalsFlushed() { _mm_setcsr(saved_); }
  DenormalsFlushed(const DenormalsFlushed&) = delete;
  DenormalsFlushed& operator=(const DenormalsFlushed&) = delete;

 private:
  static constexpr unsigned kFlush = _MM_FLUSH_ZERO_ON | _MM_DENORMALS_ZERO_ON;
  unsigned saved_;
};
#else
struct DenormalsFlushed {};
#endif

}  // namespace

float* Program::data(int value) const {
  const ValueRec& v = values[value];
  if (v.fixed) return reinterpret_cast<float*>(static_cast<uint8_t*>(v.fixed->get_data_handle()) + v.offset);
  return reinterpret_cast<float*>(arena.data() + v.offset);
}

void Program::bind() {
  const ArenaLayout layout = placeInArena(lifetimes(steps, values, buffers), 64);
  if (layout.total > kArenaLimit) throw std::bad_alloc();
  arenaBytes = layout.total;
  arena = ArenaMemory(layout.total);
  for (ValueRec& v : values)
    if (v.buffer >= 0) v.offset += layout.offsets[v.buffer];
  if (scratchpadBytes > 0)
    scratchpad = memory(memory::desc({static_cast<memory::dim>(scratchpadBytes)}, memory::data_type::u8,
                                     memory::format_tag::x),
                        eng);
  for (StepRec& s : steps) {
    for (const auto& [arg, v] : s.valueArgs) s.bound.emplace(arg, memory(values[v].desc, eng, data(v)));
    for (const auto& [arg, m] : s.fixedArgs) s.bound.emplace(arg, m);
    if (s.scratchpad) s.bound.emplace(DNNL_ARG_SCRATCHPAD, *scratchpad);
    for (int v : s.kernelValues) s.pointers.push_back(data(v));
  }
}

void Program::run(RunObserver* observer) {
  const DenormalsFlushed flushed;
  const bool timed = observer && observer->timed();
  for (StepRec& s : steps) {
    if (observer) observer->beforeStep(*this, s);
    const auto began = std::chrono::steady_clock::now();
    if (s.primitive) {
      s.primitive->execute(strm, s.bound);
    } else {
      strm.wait();
      s.kernel(s.pointers);
    }
    if (timed) {
      strm.wait();
      observer->afterStep(s, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count());
    }
  }
  strm.wait();
}

}  // namespace kestrel::vision::engine
