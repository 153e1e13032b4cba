#pragma once
// The running supported players, taken from the MPRIS names on the session bus and followed
// through the bus's name-owner changes (MprisBusNames.h maps names to players). Lives on the main
// thread; handlers run there. A name change costs the same however many names the bus holds: any
// program may register thousands.

#include <QDBusConnection>
#include <QObject>
#include <vector>

#include "platform/RunningPlayers.h"
#include "platform/linux/MprisBusNames.h"

namespace vocalynx {

class MprisRunningPlayers final : public QObject, public RunningPlayerSource {
    Q_OBJECT

public:
    explicit MprisRunningPlayers(QDBusConnection connection = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    QSet<QString> scanRunningPlayers() override;
    ObserverToken observeLaunches(Handler handler) override;
    ObserverToken observeTerminations(Handler handler) override;

private slots:
    void nameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

private:
    static void notify(std::vector<std::weak_ptr<Handler>>& list, const QString& player);
    ObserverToken add(std::vector<std::weak_ptr<Handler>>& list, Handler handler);

    QDBusConnection connection_;
    mpris::OwnedPlayerNames owned_;  // the players' names that have an owner now
    std::vector<std::weak_ptr<Handler>> launchHandlers_;
    std::vector<std::weak_ptr<Handler>> terminationHandlers_;
};

}  // namespace vocalynx
