#include "platform/linux/QtAudioPlayback.h"

#include <QFile>
#include <QFileInfo>
#include <QMediaDevices>
#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/linux/QtSoundOutput.h"

namespace vocalynx {

std::shared_ptr<AudioPlayer> QtAudioPlayback::openPlayer(const QString& path, QString* error) {
    auto fail = [&](const QString& reason) -> std::shared_ptr<AudioPlayer> {
        if (error) *error = QStringLiteral("The file \u201c") + QFileInfo(path).fileName() +
                            QStringLiteral("\u201d couldn\u2019t be opened: ") + reason;
        return nullptr;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return fail(file.errorString());
    const auto wav = parseWav(file.readAll());
    if (!wav) return fail(QStringLiteral("not a supported WAV file"));
    if (wav->data.isEmpty()) return fail(QStringLiteral("the file holds no samples"));
    QAudioFormat format;
    format.setSampleRate(wav->sampleRate);
    format.setChannelCount(wav->channels);
    format.setSampleFormat(wav->floatSamples ? QAudioFormat::Float : QAudioFormat::Int16);
    return std::make_shared<QtLoopingPlayer>(format, wav->data);
}

bool QtAudioPlayback::hasOutputDevice() const { return !QMediaDevices::defaultAudioOutput().isNull(); }

LoopingSampleSource::LoopingSampleSource(QByteArray samples, int loops, int bytesPerFrame)
    : samples_(std::move(samples)), playsLeft_(loops < 0 ? -1 : loops + 1) {
    // Whole frames only, so that a loop never shifts the channels.
    if (bytesPerFrame > 0) samples_.truncate(samples_.size() - samples_.size() % bytesPerFrame);
}

qint64 LoopingSampleSource::bytesAvailable() const {
    if (samples_.isEmpty() || playsLeft_ == 0) return QIODevice::bytesAvailable();
    if (playsLeft_ < 0) return std::numeric_limits<int>::max();
    return qint64(playsLeft_) * samples_.size() - position_ + QIODevice::bytesAvailable();
}

qint64 LoopingSampleSource::readData(char* data, qint64 maxSize) {
    qint64 written = 0;
    while (written < maxSize && !samples_.isEmpty() && playsLeft_ != 0) {
        const qint64 chunk = std::min(maxSize - written, qint64(samples_.size()) - position_);
        std::memcpy(data + written, samples_.constData() + position_, size_t(chunk));
        written += chunk;
        position_ += chunk;
        if (position_ == samples_.size()) {
            position_ = 0;
            if (playsLeft_ > 0) --playsLeft_;
        }
    }
    return written;
}

namespace {
constexpr qint64 kSinkBufferMicroseconds = 2'000'000;
constexpr int kFeedIntervalMs = 500;
}  // namespace

QtLoopingPlayer::QtLoopingPlayer(QAudioFormat format, QByteArray samples)
    : format_(format), samples_(std::move(samples)) {
    feeder_.setInterval(kFeedIntervalMs);
    feeder_.setTimerType(Qt::CoarseTimer);
    QObject::connect(&feeder_, &QTimer::timeout, [this] { refill(); });
}

QtLoopingPlayer::~QtLoopingPlayer() { stop(); }

void QtLoopingPlayer::setVolume(float volume) {
    volume_ = volume;
    if (sink_) sink_->setVolume(volume);
}

bool QtLoopingPlayer::play() {
    stop();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return false;
    source_ = std::make_unique<LoopingSampleSource>(samples_, loops_, format_.bytesPerFrame());
    source_->open(QIODevice::ReadOnly);
    sink_ = std::make_unique<QAudioSink>(device, format_);
    sink_->setBufferSize(int(format_.bytesForDuration(kSinkBufferMicroseconds)));
    sink_->setVolume(volume_);
    sinkInput_ = sink_->start();
    if (!sinkInput_ || sink_->error() != QAudio::NoError) {
        stop();
        return false;
    }
    refill();
    feeder_.start();
    return isPlaying();
}

void QtLoopingPlayer::refill() {
    if (!sink_ || !sinkInput_) return;
    qint64 room = sink_->bytesFree();
    while (room > 0) {
        const QByteArray chunk = source_->read(room);
        if (chunk.isEmpty()) {  // a finite number of loops has been played out
            feeder_.stop();
            return;
        }
        const qint64 written = sinkInput_->write(chunk);
        if (written <= 0) return;
        room -= written;
    }
}

void QtLoopingPlayer::stop() {
    feeder_.stop();
    if (sink_) sink_->stop();
    sinkInput_ = nullptr;
    sink_.reset();
    source_.reset();
}

bool QtLoopingPlayer::isPlaying() const {
    return sink_ && sink_->error() == QAudio::NoError &&
           (sink_->state() == QAudio::ActiveState || sink_->state() == QAudio::IdleState);
}

}  // namespace vocalynx
