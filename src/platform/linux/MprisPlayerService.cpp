#include "platform/linux/MprisPlayerService.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMetaObject>

namespace vocalynx {

MprisPlayerService::MprisPlayerService(Logger& log, MprisRelays* relays, QObject* parent)
    : QObject(parent), log_(log), relays_(relays) {
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
}

MprisPlayerService::~MprisPlayerService() {
    if (!registered_) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(QString::fromLatin1(kBusName));
    bus.unregisterObject(QString::fromLatin1(kObjectPath));
}

bool MprisPlayerService::registerOnBus() {
    if (triedRegistering_) return registered_;
    triedRegistering_ = true;
    const QString unavailable = QStringLiteral("[Vocalynx] Headset gestures unavailable: ");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        log_.line(unavailable + QStringLiteral("no D-Bus session bus (") + bus.lastError().message() + QStringLiteral(")"));
        return false;
    }
    if (!bus.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAdaptors)) {
        log_.line(unavailable + QStringLiteral("cannot register the object ") + QString::fromLatin1(kObjectPath) +
                  QStringLiteral(" on the session bus"));
        return false;
    }
    // A copy of the application that is still on its way out gives the name up to us.
    const auto reply = bus.interface()->registerService(QString::fromLatin1(kBusName),
                                                        QDBusConnectionInterface::ReplaceExistingService,
                                                        QDBusConnectionInterface::AllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        bus.unregisterObject(QString::fromLatin1(kObjectPath));
        log_.line(unavailable + QStringLiteral("cannot own the bus name ") + QString::fromLatin1(kBusName) +
                  (reply.isValid() ? QString() : QStringLiteral(" (") + reply.error().message() + QStringLiteral(")")));
        return false;
    }
    registered_ = true;
    return true;
}

void MprisPlayerService::addHandler(RemoteCommand command, Handler handler) {
    registerOnBus();
    handlers_[command].push_back(std::move(handler));
}

void MprisPlayerService::dispatch(RemoteCommand command) {
    if (calledFromDBus() && relays_ && relays_->isEcho(message().service())) {
        log_.line(QStringLiteral("[Vocalynx] Ignoring a player command passed back to us by ") + message().service());
        return;
    }
    auto it = handlers_.find(command);
    if (it == handlers_.end()) return;
    for (const auto& handler : it->second) handler();
}

QVariantMap MprisPlayerService::metadataFor(const NowPlayingInfo& info) {
    QVariantMap map;
    map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(QString::fromLatin1(kTrackId))));
    map.insert(QStringLiteral("mpris:length"), qlonglong(info.playbackDurationSeconds) * 1000000);
    map.insert(QStringLiteral("xesam:title"), info.title);
    return map;
}

QVariantMap MprisPlayerService::metadata() const {
    std::lock_guard lock(mutex_);
    return info_ ? metadataFor(*info_) : QVariantMap{};
}

QString MprisPlayerService::playbackStatus() const {
    std::lock_guard lock(mutex_);
    return status_;
}

double MprisPlayerService::rate() const {
    std::lock_guard lock(mutex_);
    return info_ ? info_->playbackRate : 1.0;
}

qlonglong MprisPlayerService::position() const {
    std::lock_guard lock(mutex_);
    return info_ ? qlonglong(info_->elapsedPlaybackSeconds) * 1000000 : 0;
}

void MprisPlayerService::setNowPlayingInfo(const NowPlayingInfo& info) {
    {
        std::lock_guard lock(mutex_);
        // The heartbeat publishes the same description every second: a client reads it once and
        // is told again only when it changes (an unchanged one would wake every client for
        // nothing).
        if (registered_ && announcedInfo_ == info) return;
        info_ = info;
        if (registered_) announcedInfo_ = info;
    }
    QVariantMap changed;
    changed.insert(QStringLiteral("Metadata"), metadataFor(info));
    changed.insert(QStringLiteral("Rate"), info.playbackRate);
    changed.insert(QStringLiteral("Position"), qlonglong(info.elapsedPlaybackSeconds) * 1000000);
    announce(changed);
}

void MprisPlayerService::setPlaybackState(NowPlayingPlaybackState state) {
    const QString status = state == NowPlayingPlaybackState::playing ? QStringLiteral("Playing") : QStringLiteral("Paused");
    {
        std::lock_guard lock(mutex_);
        status_ = status;
    }
    QVariantMap changed;
    changed.insert(QStringLiteral("PlaybackStatus"), status);
    announce(changed);
}

void MprisPlayerService::announce(const QVariantMap& changed) {
    if (!registered_) return;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QStringLiteral("org.mpris.MediaPlayer2.Player") << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

}  // namespace vocalynx
