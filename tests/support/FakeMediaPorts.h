#pragma once
// Fakes behind the media service's ports: music players that answer from tables, the running-
// player source, downloads from a table, and an image decoder for a tiny text image format.

#include <QMap>
#include <QStringList>
#include <functional>
#include <mutex>

#include "platform/HttpClient.h"
#include "platform/ImageDecoder.h"
#include "platform/MusicPlayers.h"
#include "platform/RunningPlayers.h"

namespace vocalynx::test {

// A list of its own, not one that shares its buffer with the original: the threads that append to
// the original then move its elements in a buffer nobody else reads. (The system's Qt library is
// not built for ThreadSanitizer, which therefore cannot see that a shared buffer is copied before
// it is changed.)
inline QStringList detachedCopy(const QStringList& list) {
    QStringList copy;
    copy.reserve(list.size());
    for (const QString& item : list) copy.append(item);
    return copy;
}

// What one fake player answers.
struct FakePlayer {
    std::optional<PlayerTrack> status;     // none: stopped, or it cannot be read
    std::optional<QString> artworkUrl;     // the artwork address; none: it cannot be read
    std::optional<QByteArray> artworkData;
    bool commandsSucceed = true;
};

// Answers from the players' tables and records each call as "<player>:<call>" (calls: status
// toggle next previous play pause url data).
class FakeMusicPlayers final : public MusicPlayers {
public:
    std::optional<PlayerTrack> status(const QString& player) override {
        const FakePlayer* p = answer(player, QStringLiteral("status"));
        return p ? p->status : std::nullopt;
    }
    bool command(const QString& player, PlayerCommand command) override {
        const FakePlayer* p = answer(player, commandName(command));
        return p && p->commandsSucceed;
    }
    std::optional<QString> artworkAddress(const QString& player) override {
        const FakePlayer* p = answer(player, QStringLiteral("url"));
        return p ? p->artworkUrl : std::nullopt;
    }
    std::optional<QByteArray> artworkData(const QString& player) override {
        const FakePlayer* p = answer(player, QStringLiteral("data"));
        return p ? p->artworkData : std::nullopt;
    }

    QStringList calls() const {
        std::lock_guard lock(mutex_);
        return detachedCopy(calls_);
    }
    int count(const QString& call) const { return int(calls().count(call)); }
    void clearCalls() {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }

    QMap<QString, FakePlayer> players;
    // Runs before a call is answered (e.g. to change a player mid-poll).
    std::function<void(const QString& call)> beforeAnswer;

private:
    static QString commandName(PlayerCommand command) {
        switch (command) {
        case PlayerCommand::toggle: return QStringLiteral("toggle");
        case PlayerCommand::next: return QStringLiteral("next");
        case PlayerCommand::previous: return QStringLiteral("previous");
        case PlayerCommand::play: return QStringLiteral("play");
        case PlayerCommand::pause: return QStringLiteral("pause");
        }
        return {};
    }
    // Records the call and gives the player's table, or none for a player without one.
    const FakePlayer* answer(const QString& player, const QString& name) {
        const QString call = player + QStringLiteral(":") + name;
        {
            std::lock_guard lock(mutex_);
            calls_ << call;
        }
        if (beforeAnswer) beforeAnswer(call);
        const auto found = players.constFind(player);  // read-only: polls run concurrently
        return found == players.constEnd() ? nullptr : &*found;
    }
    mutable std::mutex mutex_;
    QStringList calls_;
};

class FakeRunningPlayers final : public RunningPlayerSource {
public:
    QSet<QString> scanRunningPlayers() override { return running; }
    ObserverToken observeLaunches(Handler handler) override {
        auto token = std::make_shared<Handler>(std::move(handler));
        launchHandlers.push_back(token);
        return token;
    }
    ObserverToken observeTerminations(Handler handler) override {
        auto token = std::make_shared<Handler>(std::move(handler));
        terminationHandlers.push_back(token);
        return token;
    }
    void launch(const QString& player) {
        running.insert(player);
        for (auto& h : launchHandlers)
            if (auto handler = h.lock()) (*handler)(player);
    }
    void terminate(const QString& player) {
        running.remove(player);
        for (auto& h : terminationHandlers)
            if (auto handler = h.lock()) (*handler)(player);
    }

    QSet<QString> running;
    std::vector<std::weak_ptr<Handler>> launchHandlers;
    std::vector<std::weak_ptr<Handler>> terminationHandlers;
};

// Answers addresses from a table; anything else fails. Records each requested address.
class FakeHttpClient final : public HttpClient {
public:
    Fetched fetch(const QUrl& url) override {
        const QString address = url.toString(QUrl::FullyEncoded);
        {
            std::lock_guard lock(mutex_);
            requests_ << address;
        }
        if (beforeAnswer) beforeAnswer(address);
        if (busy.contains(address)) return {std::nullopt, true};
        if (!bodies.contains(address)) return {};
        return {bodies.value(address), false};
    }
    QStringList requests() const {
        std::lock_guard lock(mutex_);
        return detachedCopy(requests_);
    }
    int count(const QString& address) const { return int(requests().count(address)); }

    QMap<QString, QByteArray> bodies;
    QSet<QString> busy;  // addresses another call is fetching now
    std::function<void(const QString& address)> beforeAnswer;

private:
    mutable std::mutex mutex_;
    QStringList requests_;
};

// Reads "img:<width>x<height>:<r>,<g>,<b>,<a>" as an image of one colour; anything else is no image.
class FakeImageDecoder final : public ImageDecoder {
public:
    static QByteArray encode(int width, int height, int r, int g, int b, int a = 255) {
        return QStringLiteral("img:%1x%2:%3,%4,%5,%6").arg(width).arg(height).arg(r).arg(g).arg(b).arg(a).toLatin1();
    }
    static RgbaImage solid(int width, int height, int r, int g, int b, int a = 255) {
        RgbaImage image{width, height, QByteArray()};
        for (int i = 0; i < width * height; ++i) image.pixels.append(char(r)).append(char(g)).append(char(b)).append(char(a));
        return image;
    }
    std::optional<RgbaImage> decode(const QByteArray& bytes) const override {
        const QList<QByteArray> parts = bytes.split(':');
        if (parts.size() != 3 || parts[0] != "img") return std::nullopt;
        const QList<QByteArray> size = parts[1].split('x');
        const QList<QByteArray> rgba = parts[2].split(',');
        if (size.size() != 2 || rgba.size() != 4) return std::nullopt;
        return solid(size[0].toInt(), size[1].toInt(), rgba[0].toInt(), rgba[1].toInt(), rgba[2].toInt(), rgba[3].toInt());
    }
};

}  // namespace vocalynx::test
