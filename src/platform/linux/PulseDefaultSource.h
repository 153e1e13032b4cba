#pragma once
// The sound server's default input, as the desktop's sound settings set it: asked of the PulseAudio
// server (or PipeWire's PulseAudio service) on a connection and main loop of its own, so it can be
// called from any thread.

#include <QString>
#include <optional>

namespace vocalynx {

// The name of the server's default source (the id Qt Multimedia gives that device), or nothing when
// no server answers within the time limit, or it names no default.
std::optional<QString> pulseDefaultSourceName(int timeoutMs = 250);

}  // namespace vocalynx
