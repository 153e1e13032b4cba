#pragma once
// A remote command centre and now-playing centre for tests: the test sends commands by hand and
// reads back what was published, in order.

#include <QStringList>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/RemoteCommands.h"

namespace vocalynx::test {

class FakeRemoteCommands final : public RemoteCommandCenter, public NowPlayingCenter {
public:
    void addHandler(RemoteCommand command, Handler handler) override {
        if (onAdd) onAdd(command);
        order.push_back(command);
        handlers[command].push_back(std::move(handler));
    }
    // Runs the handlers of one command, as the platform does on the main thread.
    void send(RemoteCommand command) {
        for (const auto& handler : handlers[command]) handler();
    }

    void setNowPlayingInfo(const NowPlayingInfo& info) override {
        std::lock_guard lock(mutex_);
        lastInfo = info;
        published << QStringLiteral("info");
    }
    void setPlaybackState(NowPlayingPlaybackState state) override {
        std::lock_guard lock(mutex_);
        published << (state == NowPlayingPlaybackState::playing ? QStringLiteral("playing") : QStringLiteral("paused"));
    }
    QStringList publishedSoFar() const {
        std::lock_guard lock(mutex_);
        return published;
    }

    std::vector<RemoteCommand> order;
    // Called as each handler is added, before it is.
    std::function<void(RemoteCommand)> onAdd;
    std::map<RemoteCommand, std::vector<Handler>> handlers;
    NowPlayingInfo lastInfo;
    QStringList published;  // "info", "playing", "paused" in publishing order

private:
    mutable std::mutex mutex_;
};

}  // namespace vocalynx::test
