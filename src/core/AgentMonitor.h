#pragma once
#include <QString>
#include <QVariantMap>
#include <memory>
#include <optional>

#include "core/SoundFeedback.h"
#include "core/Types.h"
#include "core/WeakHandle.h"
#include "platform/DistributedNotifications.h"
#include "platform/Runtime.h"

namespace vocalynx {

// Plays a cue when a coding agent reports an event: the agent bridge program posts the
// distributed notification "com.vocalynx.agent-event" with the agent's event name and source.
class AgentMonitor {
public:
    AgentMonitor(Runtime& runtime, DistributedNotificationCenter& center, SoundFeedback& sounds);
    ~AgentMonitor();

    // Once at launch; a second call registers a second time.
    void start();
    // One received notification.
    void handleAgentEvent(const std::optional<QVariantMap>& userInfo);
    // Plays the event's cue, if it has one and the cue is switched on.
    void playSoundForAgentEvent(const QString& event);

    // "UserPromptSubmit" and "SessionStart" start, "Stop" completes, "PermissionRequest" asks.
    static std::optional<SoundType> cueForEvent(const QString& event);

    static inline const QString notificationName = QStringLiteral("com.vocalynx.agent-event");

private:
    Runtime& runtime_;
    DistributedNotificationCenter& center_;
    SoundFeedback& sounds_;
    // Held weakly by the observer and the queued cue, which do nothing once the monitor is gone.
    WeakFactory<AgentMonitor> weak_;
};

}  // namespace vocalynx
