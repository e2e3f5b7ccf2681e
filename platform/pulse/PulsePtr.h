#pragma once
// Owners for PulseAudio's C objects. Streams, operations and the context must be released with
// the threaded mainloop's lock held (PulseConnection::Lock); the mainloop itself without it.

#include <pulse/pulseaudio.h>

#include <memory>

namespace chimora::pulse {

struct MainloopDeleter {
    void operator()(pa_threaded_mainloop* m) const {
        pa_threaded_mainloop_stop(m);
        pa_threaded_mainloop_free(m);
    }
};

struct ContextDeleter {
    void operator()(pa_context* c) const {
        pa_context_set_state_callback(c, nullptr, nullptr);
        pa_context_disconnect(c);
        pa_context_unref(c);
    }
};

/// Clears every callback first, so nothing of ours is called once the owner lets go.
struct StreamDeleter {
    void operator()(pa_stream* s) const {
        pa_stream_set_state_callback(s, nullptr, nullptr);
        pa_stream_set_write_callback(s, nullptr, nullptr);
        pa_stream_set_read_callback(s, nullptr, nullptr);
        pa_stream_set_overflow_callback(s, nullptr, nullptr);
        pa_stream_set_underflow_callback(s, nullptr, nullptr);
        pa_stream_set_latency_update_callback(s, nullptr, nullptr);
        pa_stream_set_moved_callback(s, nullptr, nullptr);
        pa_stream_set_suspended_callback(s, nullptr, nullptr);
        pa_stream_set_started_callback(s, nullptr, nullptr);
        pa_stream_set_event_callback(s, nullptr, nullptr);
        pa_stream_set_buffer_attr_callback(s, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
            pa_stream_disconnect(s);
        pa_stream_unref(s);
    }
};

/// Cancels a pending operation: its callback is not called afterwards.
struct OperationDeleter {
    void operator()(pa_operation* o) const {
        if (pa_operation_get_state(o) == PA_OPERATION_RUNNING)
            pa_operation_cancel(o);
        pa_operation_unref(o);
    }
};

using MainloopPtr = std::unique_ptr<pa_threaded_mainloop, MainloopDeleter>;
using ContextPtr = std::unique_ptr<pa_context, ContextDeleter>;
using StreamPtr = std::unique_ptr<pa_stream, StreamDeleter>;
using OperationPtr = std::unique_ptr<pa_operation, OperationDeleter>;

/// Releases an operation we do not wait for (cork, flush, trigger): it still runs to its end.
inline void forget(pa_operation* o) {
    if (o)
        pa_operation_unref(o);
}

} // namespace chimora::pulse
