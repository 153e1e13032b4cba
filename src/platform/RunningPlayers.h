#pragma once
// Which of the supported music players ("Music", "Spotify", see MusicPlayers.h) run now, and
// news of them starting and stopping.

#include <QSet>
#include <QString>
#include <functional>
#include <memory>

namespace vocalynx {

class RunningPlayerSource {
public:
    using Handler = std::function<void(const QString& player)>;
    // Keeps an observation alive; dropping it ends the observation.
    using ObserverToken = std::shared_ptr<void>;

    virtual ~RunningPlayerSource() = default;
    // The names of the supported players running now (main thread).
    virtual QSet<QString> scanRunningPlayers() = 0;
    // The handler runs on the main thread with a player's name when that player starts running,
    // for as long as the returned token is held.
    virtual ObserverToken observeLaunches(Handler handler) = 0;
    // The same for a player that stops running.
    virtual ObserverToken observeTerminations(Handler handler) = 0;
};

}  // namespace vocalynx
