#include "core/AgentMonitor.h"

#include "platform/LogText.h"

namespace vocalynx {

namespace {
bool isString(const QVariant& value) { return value.typeId() == QMetaType::QString; }
}  // namespace

AgentMonitor::AgentMonitor(Runtime& runtime, DistributedNotificationCenter& center, SoundFeedback& sounds)
    : runtime_(runtime), center_(center), sounds_(sounds), weak_(this, &runtime.main, "AgentMonitor") {}

AgentMonitor::~AgentMonitor() { weak_.invalidate(); }

std::optional<SoundType> AgentMonitor::cueForEvent(const QString& event) {
    if (event == QLatin1String("UserPromptSubmit") || event == QLatin1String("SessionStart"))
        return SoundType::agentStart;
    if (event == QLatin1String("Stop")) return SoundType::agentComplete;
    if (event == QLatin1String("PermissionRequest")) return SoundType::agentPermission;
    return std::nullopt;
}

void AgentMonitor::start() {
    assertOnSequence(runtime_.main, "AgentMonitor::start");
    // The centre delivers on the main thread.
    const WeakRef<AgentMonitor> weak = weak_.weak();
    const bool observing = center_.addObserver(notificationName, [weak](const std::optional<QVariantMap>& userInfo) {
        if (AgentMonitor* self = weak.get()) self->handleAgentEvent(userInfo);
    });
    runtime_.log.line(QStringLiteral("[Vocalynx] AgentMonitor started, listening for agent events"));
    if (!observing)
        runtime_.log.line(QStringLiteral("[Vocalynx] AgentMonitor cannot receive agent events: the session bus "
                                         "is not available"));
}

void AgentMonitor::handleAgentEvent(const std::optional<QVariantMap>& userInfo) {
    assertOnSequence(runtime_.main, "AgentMonitor::handleAgentEvent");
    if (!userInfo) return;
    const QVariant eventValue = userInfo->value(QStringLiteral("event"));
    if (!isString(eventValue)) return;
    const QString event = eventValue.toString();
    const QVariant sourceValue = userInfo->value(QStringLiteral("source"));
    const QString source = isString(sourceValue) ? sourceValue.toString() : QStringLiteral("unknown");
    // Both values come from whichever program sent the event: escaped and cut short in the log.
    runtime_.log.line(QStringLiteral("[Vocalynx] Agent event: ") + boundedLogValue(event) + QStringLiteral(" from ") +
                      boundedLogValue(source));

    runtime_.main.post(weak_.bind([event](AgentMonitor& self) { self.playSoundForAgentEvent(event); }));
}

void AgentMonitor::playSoundForAgentEvent(const QString& event) {
    if (const auto cue = cueForEvent(event)) sounds_.play(*cue);
}

}  // namespace vocalynx
