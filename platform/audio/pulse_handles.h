#pragma once
// Owning handles for the libpulse objects the audio layer uses.
#include <pulse/pulseaudio.h>

#include <memory>

namespace kestrel::audio {

// Stops the event thread before freeing it; stopping an idle loop is harmless.
struct MainloopFreer {
  void operator()(pa_threaded_mainloop* m) const {
    pa_threaded_mainloop_stop(m);
    pa_threaded_mainloop_free(m);
  }
};
struct ContextFreer {
  void operator()(pa_context* c) const {
    pa_context_set_state_callback(c, nullptr, nullptr);
    pa_context_disconnect(c);
    pa_context_unref(c);
  }
};
struct StreamFreer {
  void operator()(pa_stream* s) const {
    pa_stream_set_state_callback(s, nullptr, nullptr);
    pa_stream_set_read_callback(s, nullptr, nullptr);
    pa_stream_disconnect(s);
    pa_stream_unref(s);
  }
};
struct OperationFreer {
  void operator()(pa_operation* o) const {
    if (pa_operation_get_state(o) == PA_OPERATION_RUNNING) pa_operation_cancel(o);
    pa_operation_unref(o);
  }
};

using MainloopHandle = std::unique_ptr<pa_threaded_mainloop, MainloopFreer>;
using ContextHandle = std::unique_ptr<pa_context, ContextFreer>;
using StreamHandle = std::unique_ptr<pa_stream, StreamFreer>;
using OperationHandle = std::unique_ptr<pa_operation, OperationFreer>;

// Holds the event thread's lock for a scope.
class LoopLock {
 public:
  explicit LoopLock(pa_threaded_mainloop* m) : m_(m) { pa_threaded_mainloop_lock(m_); }
  ~LoopLock() { pa_threaded_mainloop_unlock(m_); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pa_threaded_mainloop* m_;
};

}  // namespace kestrel::audio
