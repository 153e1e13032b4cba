#pragma once
// What the speech-engine tests share: the players around a recording, recording their calls, and
// the state-diagnostics messages of a log.

#include <QStringList>

#include "RecordingLogger.h"
#include "engine/EngineCollaborators.h"

namespace vocalynx::test {

struct RecordingPlayers final : SilentPlayerControl, MediaPauseControl {
    void suspendSilentPlayer() override { calls << "suspendSilent"; }
    void resumeSilentPlayer() override { calls << "resumeSilent"; }
    void pauseForRecording() override { calls << "pauseMedia"; }
    void resumeAfterRecording() override { calls << "resumeMedia"; }
    QStringList calls;
};

// The message part of each "[Vocalynx][StateDiagnostics] ts=... uptime=... <message>" line.
inline QStringList stateLines(const RecordingLogger& log) {
    QStringList out;
    for (const auto& l : log.lines())
        if (l.startsWith("[Vocalynx][StateDiagnostics] ")) out << l.section(' ', 3);
    return out;
}

}  // namespace vocalynx::test
