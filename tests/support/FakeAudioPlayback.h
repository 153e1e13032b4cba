#pragma once
// Audio playback for tests: the test decides whether there is an output device, whether opening
// a player fails and whether a started player really plays; every player opened is remembered
// weakly, so a test can tell which ones the code still holds.

#include <QString>
#include <memory>
#include <vector>

#include "platform/AudioPlayback.h"

namespace vocalynx::test {

class FakeAudioPlayer final : public AudioPlayer {
public:
    explicit FakeAudioPlayer(bool startsPlaying) : startsPlaying_(startsPlaying) {}
    void setNumberOfLoops(int value) override { loops = value; }
    void setVolume(float value) override { volume = value; }
    bool play() override {
        ++plays;
        playing = startsPlaying_;
        return playing;
    }
    void stop() override {
        ++stops;
        playing = false;
    }
    bool isPlaying() const override { return playing; }

    int loops = 0;
    float volume = 1.0f;
    bool playing = false;
    int plays = 0;
    int stops = 0;

private:
    bool startsPlaying_;
};

class FakeAudioPlayback final : public AudioPlayback {
public:
    std::shared_ptr<AudioPlayer> openPlayer(const QString& path, QString* error) override {
        openedPaths.push_back(path);
        if (openFails) {
            if (error) *error = openError;
            return nullptr;
        }
        auto player = std::make_shared<FakeAudioPlayer>(playersStartPlaying);
        players.push_back(player);
        return player;
    }
    bool hasOutputDevice() const override {
        ++deviceQueries;
        return outputDevice;
    }
    // The last player opened, while something still holds it.
    std::shared_ptr<FakeAudioPlayer> last() const { return players.empty() ? nullptr : players.back().lock(); }

    bool outputDevice = true;
    bool openFails = false;
    QString openError = QStringLiteral("The operation couldn't be completed");
    bool playersStartPlaying = true;
    std::vector<QString> openedPaths;
    std::vector<std::weak_ptr<FakeAudioPlayer>> players;
    mutable int deviceQueries = 0;
};

}  // namespace vocalynx::test
