#pragma once
// The fields the speech process and the speech stream share: the persistent process and its pipe
// ends, the current recogniser session, and the audio kept while no process can take it. One lock
// (processLock) guards all of them; it is never held while audio is written, a process is launched
// or anything is waited for.

#include <QByteArray>
#include <QUuid>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "engine/ColiOutput.h"
#include "platform/ChildProcess.h"
#include "platform/Executor.h"

namespace vocalynx {

struct ColiChannel {
    std::mutex processLock;

    // ---- the persistent speech process ----
    std::shared_ptr<ChildProcess> persistentColiProcess;
    std::shared_ptr<PipeWriter> persistentColiStdin;
    std::shared_ptr<PipeReader> persistentColiStdout;
    std::shared_ptr<PipeReader> persistentColiStderr;
    bool persistentColiReady = false;  // launched; not necessarily done loading its model
    bool isShuttingDown = false;

    // ---- audio of the recording session that arrived while no process could take it, in arrival
    // order; it belongs to that session only and is dropped when the session stops recording ----
    std::vector<QByteArray> pendingAudioBuffer;

    // ---- the current recogniser session ----
    // The process that serves the session (it may have died: then coliStdin is none until the
    // relaunched process takes the session over) and its standard input.
    std::shared_ptr<ChildProcess> coliProcess;
    std::shared_ptr<PipeWriter> coliStdin;
    bool coliReady = false;
    // From the session's start until its stop or cancel: audio belongs to it. Audio that arrives
    // at any other time is dropped.
    bool sessionRecording = false;
    std::optional<QUuid> activeColiSessionID;
    ColiLineBuffer lineBuffer;
    TaskHandle finalizeDrainWorkItem;
    std::optional<QUuid> finalizeDrainToken;
};

// "nil", or the identifier inside "Optional(" and ")", as the diagnostics lines print it.
QString optionalSessionText(const std::optional<QUuid>& id);
// 32 upper-case hexadecimal digits in groups 8-4-4-4-12.
QString sessionText(const QUuid& id);

}  // namespace vocalynx
