#pragma once
// Questions about the sound server's sources, asked of the PulseAudio server (or PipeWire's
// PulseAudio service) on a connection and main loop of their own, so they can be asked from any
// thread, each bounded in time.

#include <QString>
#include <optional>

namespace vocalynx {

// The name of the server's default source (the id Qt Multimedia gives that device), or nothing when
// no server answers within the time limit, or it names no default.
std::optional<QString> pulseDefaultSourceName(int timeoutMs = 250);

// The sink whose output the source records: for a sink's monitor, that sink; for a source remapped
// from another (a virtual microphone), the sink behind its master, followed a few steps. Nothing for
// a source that records a device, or when no server answers within the time limit.
std::optional<QString> pulseSinkFeedingSource(const QString& sourceName, int timeoutMs = 250);

}  // namespace vocalynx
