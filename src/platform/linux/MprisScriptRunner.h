#pragma once
// The player scripts carried out over MPRIS on the session bus. Each recognised script text
// (PlayerScripts.h) becomes the matching MPRIS calls on the player its name maps to
// (MprisBusNames.h); any other text, a missing player, or a player that does not answer within the
// timeout is a script error. Thread-safe: calls block the calling (background) thread only.

#include <QDBusConnection>
#include <QVariantMap>

#include "platform/HttpClient.h"
#include "platform/PlayerScripts.h"
#include "platform/ScriptRunner.h"

namespace vocalynx {

class MprisScriptRunner final : public ScriptRunner {
public:
    // The HTTP client fetches the bytes behind a player's artwork address.
    explicit MprisScriptRunner(HttpClient& http, QDBusConnection connection = QDBusConnection::sessionBus(),
                               int timeoutMs = 1500);

    bool runScript(const QString& source) override;
    std::optional<QString> runScriptForString(const QString& source) override;
    std::optional<QByteArray> runScriptForData(const QString& source) override;

private:
    struct Result {
        bool ok = false;
        std::optional<QString> text;
        std::optional<QByteArray> data;
    };
    Result run(const QString& source);
    QString resolve(const QString& player) const;
    bool call(const QString& busName, const QString& method) const;
    std::optional<QVariant> property(const QString& busName, const QString& name) const;
    std::optional<QVariantMap> metadata(const QString& busName) const;

    HttpClient& http_;
    QDBusConnection connection_;
    int timeoutMs_;
};

}  // namespace vocalynx
