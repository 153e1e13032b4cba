#pragma once
// Our own MPRIS 2 player on the D-Bus session bus: the remote command centre and the now-playing
// centre of the Linux desktop. Media keys, desktop media widgets and a Bluetooth headset's buttons
// (through BlueZ) drive it like any other player; its five transport commands reach the handlers
// on the main thread. The bus name is "org.mpris.MediaPlayer2.vocalynx", the object path
// "/org/mpris/MediaPlayer2". A command of our own that another player passes back to us (a relay,
// MprisRelays.h) is dropped: it is no press.

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/Logger.h"
#include "platform/RemoteCommands.h"
#include "platform/linux/MprisRelays.h"

namespace vocalynx {

class MprisPlayerService final : public QObject,
                                 protected QDBusContext,
                                 public RemoteCommandCenter,
                                 public NowPlayingCenter {
    Q_OBJECT

public:
    static constexpr const char* kBusName = "org.mpris.MediaPlayer2.vocalynx";
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char* kTrackId = "/com/vocalynx/NowPlaying";

    // Create on the main thread; commands arrive on the thread the object lives on. The relays
    // are where the commands we send to other players are marked (none: nothing is dropped).
    explicit MprisPlayerService(Logger& log, MprisRelays* relays = nullptr, QObject* parent = nullptr);
    ~MprisPlayerService() override;

    // Puts the player on the session bus; the first handler does it too. Without a bus (or when
    // the name cannot be had) it logs why headset gestures are unavailable and answers false.
    bool registerOnBus();
    bool isRegistered() const { return registered_; }

    void addHandler(RemoteCommand command, Handler handler) override;
    void setNowPlayingInfo(const NowPlayingInfo& info) override;
    void setPlaybackState(NowPlayingPlaybackState state) override;

    // ---- what the D-Bus interfaces read and call (main thread) ----
    void dispatch(RemoteCommand command);
    QVariantMap metadata() const;
    QString playbackStatus() const;
    double rate() const;
    qlonglong position() const;

private:
    // Emits org.freedesktop.DBus.Properties.PropertiesChanged for the player interface, from the
    // calling thread (the bus connection is thread-safe): the once-a-second refresh on its own
    // queue then does not wake the main thread.
    void announce(const QVariantMap& changed);
    static QVariantMap metadataFor(const NowPlayingInfo& info);

    Logger& log_;
    MprisRelays* relays_;
    std::atomic<bool> registered_{false};
    bool triedRegistering_ = false;
    std::map<RemoteCommand, std::vector<Handler>> handlers_;

    mutable std::mutex mutex_;  // guards the published values, set from any thread
    std::optional<NowPlayingInfo> info_;
    std::optional<NowPlayingInfo> announcedInfo_;  // the description last sent to the bus
    QString status_ = QStringLiteral("Stopped");
};

// org.mpris.MediaPlayer2
class MprisRootAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)

public:
    explicit MprisRootAdaptor(MprisPlayerService* service) : QDBusAbstractAdaptor(service) {}
    bool canQuit() const { return false; }
    bool canRaise() const { return false; }
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("Vocalynx"); }
    QStringList supportedUriSchemes() const { return {}; }
    QStringList supportedMimeTypes() const { return {}; }

public slots:
    void Raise() {}
    void Quit() {}
};

// org.mpris.MediaPlayer2.Player
class MprisPlayerAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(bool CanGoNext READ yes)
    Q_PROPERTY(bool CanGoPrevious READ yes)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ no)
    Q_PROPERTY(bool CanControl READ yes)

public:
    explicit MprisPlayerAdaptor(MprisPlayerService* service) : QDBusAbstractAdaptor(service), service_(service) {}
    QString playbackStatus() const { return service_->playbackStatus(); }
    double rate() const { return service_->rate(); }
    QVariantMap metadata() const { return service_->metadata(); }
    qlonglong position() const { return service_->position(); }
    bool yes() const { return true; }
    bool no() const { return false; }

public slots:
    void PlayPause() { service_->dispatch(RemoteCommand::togglePlayPause); }
    void Play() { service_->dispatch(RemoteCommand::play); }
    void Pause() { service_->dispatch(RemoteCommand::pause); }
    void Next() { service_->dispatch(RemoteCommand::nextTrack); }
    void Previous() { service_->dispatch(RemoteCommand::previousTrack); }
    // Not commands of ours; accepted and ignored, as the interface requires them to exist.
    void Stop() {}
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString&) {}

signals:
    void Seeked(qlonglong position);

private:
    MprisPlayerService* service_;
};

}  // namespace vocalynx
