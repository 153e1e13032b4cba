#include "platform/linux/PulseDefaultSource.h"

#include <pulse/pulseaudio.h>

#include <chrono>

namespace vocalynx {

namespace {

struct Query {
    bool done = false;
    std::optional<QString> name;
};

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* query = static_cast<Query*>(userdata);
    if (info && info->default_source_name && *info->default_source_name)
        query->name = QString::fromUtf8(info->default_source_name);
    query->done = true;
}

}  // namespace

std::optional<QString> pulseDefaultSourceName(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop) return std::nullopt;
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Vocalynx");
    Query query;
    pa_operation* operation = nullptr;
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        // One step of the loop at a time, never waiting past the deadline: a server that accepts
        // the connection and then says nothing cannot hold the caller.
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0 || query.done) break;
            const pa_context_state_t state = pa_context_get_state(context);
            if (!PA_CONTEXT_IS_GOOD(state)) break;
            if (state == PA_CONTEXT_READY && !operation) {
                operation = pa_context_get_server_info(context, &onServerInfo, &query);
                if (!operation) break;
            }
            if (pa_mainloop_prepare(loop, static_cast<int>(left) * 1000) < 0 || pa_mainloop_poll(loop) < 0 ||
                pa_mainloop_dispatch(loop) < 0)
                break;
        }
    }
    if (operation) {
        pa_operation_cancel(operation);
        pa_operation_unref(operation);
    }
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    return query.done ? query.name : std::nullopt;
}

}  // namespace vocalynx
