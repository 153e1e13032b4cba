#include "platform/linux/PulseSinkLatencyHold.h"

#include <pulse/pulseaudio.h>

namespace vocalynx {

PulseSinkLatencyHold::PulseSinkLatencyHold(const QString& sinkName, std::function<void()> onLapsed)
    : sinkName_(sinkName), onLapsed_(std::move(onLapsed)) {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) return;
    pa_threaded_mainloop_set_name(loop_, "pulse-latency");
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Vocalynx");
    if (!context_) return;
    lapsed_ = false;
    pa_context_set_state_callback(context_, &PulseSinkLatencyHold::onContextState, this);
    pa_threaded_mainloop_lock(loop_);
    const bool started = pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
                         pa_threaded_mainloop_start(loop_) >= 0;
    pa_threaded_mainloop_unlock(loop_);
    if (!started) {
        pa_context_unref(context_);
        context_ = nullptr;
        lapsed_ = true;
    }
}

PulseSinkLatencyHold::~PulseSinkLatencyHold() {
    if (loop_) pa_threaded_mainloop_stop(loop_);
    if (stream_) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_) pa_threaded_mainloop_free(loop_);
}

// Connection thread, lock held.
void PulseSinkLatencyHold::onContextState(pa_context* context, void* self) {
    auto* hold = static_cast<PulseSinkLatencyHold*>(self);
    const pa_context_state_t state = pa_context_get_state(context);
    if (!PA_CONTEXT_IS_GOOD(state)) hold->lapse();
    if (state != PA_CONTEXT_READY || hold->stream_) return;
    // The format matters little (the stream never plays); a common one spares the server a
    // conversion set-up.
    pa_sample_spec spec;
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = 48000;
    spec.channels = 2;
    hold->stream_ = pa_stream_new(context, "Vocalynx microphone latency", &spec, nullptr);
    if (!hold->stream_) {
        hold->lapse();
        return;
    }
    // The stream fails when its sink goes away (it is never moved to another one).
    pa_stream_set_state_callback(hold->stream_, &PulseSinkLatencyHold::onStreamState, hold);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(kBufferMilliseconds) * 1000, &spec));
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    const QByteArray sink = hold->sinkName_.toUtf8();
    if (pa_stream_connect_playback(hold->stream_, sink.constData(), &attr,
                                   pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED |
                                                     PA_STREAM_DONT_MOVE),
                                   nullptr, nullptr) < 0)
        hold->lapse();
}

// Connection thread, lock held.
void PulseSinkLatencyHold::onStreamState(pa_stream* stream, void* self) {
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) static_cast<PulseSinkLatencyHold*>(self)->lapse();
}

// Connection thread, lock held.
void PulseSinkLatencyHold::lapse() {
    if (!lapsed_.exchange(true) && onLapsed_) onLapsed_();
}

}  // namespace vocalynx
