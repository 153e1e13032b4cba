#pragma once
#include <QString>
#include <any>
#include <functional>
#include <mutex>
#include <vector>

namespace vocalynx {

// In-process notifications. Posting runs the observers synchronously on the posting thread,
// in the order they were added. Observers may add or remove observers while being called.
class NotificationCenter {
public:
    using Observer = std::function<void(const std::any& object)>;
    using Token = unsigned long;

    Token addObserver(const QString& name, Observer observer);
    void removeObserver(Token token);
    void post(const QString& name, const std::any& object = {});

private:
    struct Entry {
        Token token;
        QString name;
        std::shared_ptr<Observer> observer;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
    Token nextToken_ = 1;
};

// The notification names used inside the process.
namespace notifications {
inline const QString preferredDisplayDidChange = QStringLiteral("preferredDisplayDidChange");
inline const QString stopRecordingShortcutDidChange = QStringLiteral("stopRecordingShortcutDidChange");
inline const QString openSettingsFromPanel = QStringLiteral("openSettingsFromPanel");
inline const QString vocalynxModelLoadFailed = QStringLiteral("vocalynxModelLoadFailed");
// The speech program is missing or cannot run; the object says which (SpeechProgramTrouble).
inline const QString speechProgramUnavailable = QStringLiteral("vocalynxSpeechProgramUnavailable");
inline const QString vocalynxCheckForUpdates = QStringLiteral("vocalynxCheckForUpdates");
inline const QString overlayPanelFrameDidChange = QStringLiteral("overlayPanelFrameDidChange");
}  // namespace notifications

}  // namespace vocalynx
