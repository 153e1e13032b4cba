#pragma once
// Keeps a sink's output latency short while the microphone records that sink's sound (a monitor, or
// a virtual microphone remapped from one).
//
// A sink renders ahead as far as its clients allow: with only a music player that asks for two
// seconds of buffer, the sink mixes up to two seconds at once and its monitor hands them over in one
// go. A recording that opens then hears nothing until the next block, up to two seconds later: a
// short dictation would get no audio at all. A corked playback stream that asks for a short latency
// keeps the sink mixing in small blocks; corked, it plays nothing, wakes nobody and does not keep
// the sink from suspending when nothing plays.
//
// The stream lives on a connection and thread of its own; making and dropping a hold never waits for
// the server. A server that refuses or goes away, or a sink that goes away, leaves the hold without
// effect for good: it then counts as lapsed, its owner is told (when it asked to be), and makes a
// new one.

#include <QString>
#include <atomic>
#include <functional>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace vocalynx {

class PulseSinkLatencyHold {
public:
    // onLapsed, when given, is called once when a hold that was under way lapses, on the
    // connection's thread: it must only hand the news on, never wait or drop the hold there.
    explicit PulseSinkLatencyHold(const QString& sinkName, std::function<void()> onLapsed = {});
    ~PulseSinkLatencyHold();
    PulseSinkLatencyHold(const PulseSinkLatencyHold&) = delete;
    PulseSinkLatencyHold& operator=(const PulseSinkLatencyHold&) = delete;

    const QString& sinkName() const { return sinkName_; }
    // The connection or the stream failed or ended (or never began); the hold does nothing any more.
    // A hold still connecting has not lapsed.
    bool lapsed() const { return lapsed_.load(); }

    // The buffer the corked stream asks for; the server then mixes in blocks of about 30 ms.
    static constexpr int kBufferMilliseconds = 100;

private:
    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    void lapse();

    QString sinkName_;
    std::function<void()> onLapsed_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;  // made on the connection's thread, under its lock
    std::atomic<bool> lapsed_{true};  // until the connection is under way; set again on its thread
};

}  // namespace vocalynx
