#include "platform/linux/PulseDefaultSource.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>

namespace vocalynx {

namespace {

// A connection that runs one request at a time, never waiting past its deadline: a server that
// accepts the connection and then says nothing cannot hold the caller.
class BoundedQuery {
public:
    explicit BoundedQuery(int timeoutMs)
        : deadline_(Clock::now() + std::chrono::milliseconds(timeoutMs)), loop_(pa_mainloop_new()) {
        if (!loop_) return;
        context_ = pa_context_new(pa_mainloop_get_api(loop_), "Vocalynx");
        if (context_ && pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            pa_context_unref(context_);
            context_ = nullptr;
        }
    }
    ~BoundedQuery() {
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        if (loop_) pa_mainloop_free(loop_);
    }
    BoundedQuery(const BoundedQuery&) = delete;
    BoundedQuery& operator=(const BoundedQuery&) = delete;

    // Starts the request once the connection is ready and steps the loop until the request's
    // callback sets `done`; false when the deadline passed or the connection failed first.
    bool run(const std::function<pa_operation*(pa_context*)>& start, const bool& done) {
        if (!context_) return false;
        pa_operation* operation = nullptr;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
            if (left <= 0 || done) break;
            const pa_context_state_t state = pa_context_get_state(context_);
            if (!PA_CONTEXT_IS_GOOD(state)) break;
            if (state == PA_CONTEXT_READY && !operation) {
                operation = start(context_);
                if (!operation) break;
            }
            if (pa_mainloop_prepare(loop_, static_cast<int>(left) * 1000) < 0 || pa_mainloop_poll(loop_) < 0 ||
                pa_mainloop_dispatch(loop_) < 0)
                break;
        }
        if (operation) {
            pa_operation_cancel(operation);
            pa_operation_unref(operation);
        }
        return done;
    }

private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline_;
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};

struct DefaultSourceAnswer {
    bool done = false;
    std::optional<QString> name;
};

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* answer = static_cast<DefaultSourceAnswer*>(userdata);
    if (info && info->default_source_name && *info->default_source_name)
        answer->name = QString::fromUtf8(info->default_source_name);
    answer->done = true;
}

struct SourceAnswer {
    bool done = false;
    bool found = false;
    QString monitorOf;  // the sink this source monitors
    QString master;     // the source this one is remapped from
};

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
    auto* answer = static_cast<SourceAnswer*>(userdata);
    if (eol) {
        answer->done = true;
        return;
    }
    if (!info) return;
    answer->found = true;
    if (info->monitor_of_sink != PA_INVALID_INDEX && info->monitor_of_sink_name)
        answer->monitorOf = QString::fromUtf8(info->monitor_of_sink_name);
    if (const char* master = info->proplist ? pa_proplist_gets(info->proplist, PA_PROP_DEVICE_MASTER_DEVICE) : nullptr)
        answer->master = QString::fromUtf8(master);
}

}  // namespace

std::optional<QString> pulseDefaultSourceName(int timeoutMs) {
    BoundedQuery query(timeoutMs);
    DefaultSourceAnswer answer;
    query.run([&answer](pa_context* c) { return pa_context_get_server_info(c, &onServerInfo, &answer); }, answer.done);
    return answer.done ? answer.name : std::nullopt;
}

std::optional<QString> pulseSinkFeedingSource(const QString& sourceName, int timeoutMs) {
    BoundedQuery query(timeoutMs);
    QString name = sourceName;
    // A remapped source names its master; a chain of a few such steps covers every set-up of
    // virtual microphones seen in practice, and a loop of them cannot hold the caller.
    for (int step = 0; step < 4 && !name.isEmpty(); ++step) {
        SourceAnswer answer;
        const QByteArray utf8 = name.toUtf8();
        const bool answered = query.run(
            [&](pa_context* c) { return pa_context_get_source_info_by_name(c, utf8.constData(), &onSourceInfo, &answer); },
            answer.done);
        if (!answered || !answer.found) return std::nullopt;
        if (!answer.monitorOf.isEmpty()) return answer.monitorOf;
        name = answer.master;
    }
    return std::nullopt;
}

}  // namespace vocalynx
