#pragma once
// What the speech-engine tests share: the players around a recording, recording their calls, and
// the state-diagnostics messages of a log.

#include <QStringList>

#include "RecordingLogger.h"
#include "engine/EngineCollaborators.h"

namespace vocalynx::test {

struct RecordingPlayers final : SilentPlayerControl, MediaPauseControl {
    void suspendSilentPlayer() override { calls << QStringLiteral("suspendSilent"); }
    void resumeSilentPlayer() override { calls << QStringLiteral("resumeSilent"); }
    void pauseForRecording() override { calls << QStringLiteral("pauseMedia"); }
    void resumeAfterRecording() override { calls << QStringLiteral("resumeMedia"); }
    QStringList calls;
};

// The message part of each "[Vocalynx][StateDiagnostics] ts=... uptime=... <message>" line.
inline QStringList stateLines(const RecordingLogger& log) {
    QStringList out;
    for (const auto& l : log.lines())
        if (l.startsWith(QStringLiteral("[Vocalynx][StateDiagnostics] "))) out << l.section(u' ', 3);
    return out;
}

}  // namespace vocalynx::test
