#include "platform/linux/QtSoundOutput.h"

#include <QMediaDevices>
#include <QTimer>
#include <QtEndian>

namespace vocalynx {

namespace {
// How long after the buffered sound should have played its stream is released.
constexpr int kReleaseMarginMs = 250;
}  // namespace

std::optional<ParsedWav> parseWav(const QByteArray& wav) {
    if (wav.size() < 12 || !wav.startsWith("RIFF") || wav.mid(8, 4) != "WAVE") return std::nullopt;
    ParsedWav parsed;
    bool haveFormat = false;
    qsizetype pos = 12;
    while (pos + 8 <= wav.size()) {
        const QByteArray id = wav.mid(pos, 4);
        const quint32 size = qFromLittleEndian<quint32>(wav.constData() + pos + 4);
        const qsizetype body = pos + 8;
        if (size > static_cast<quint64>(wav.size() - body)) return std::nullopt;
        if (id == "fmt ") {
            if (size < 16) return std::nullopt;
            const auto* p = wav.constData() + body;
            const quint16 format = qFromLittleEndian<quint16>(p);
            if (format != 1 && format != 3) return std::nullopt;  // PCM or IEEE float
            parsed.floatSamples = format == 3;
            parsed.channels = qFromLittleEndian<quint16>(p + 2);
            parsed.sampleRate = static_cast<int>(qFromLittleEndian<quint32>(p + 4));
            parsed.bitsPerSample = qFromLittleEndian<quint16>(p + 14);
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat || parsed.channels <= 0 || parsed.sampleRate <= 0 ||
                parsed.bitsPerSample != (parsed.floatSamples ? 32 : 16))
                return std::nullopt;
            parsed.data = wav.mid(body, size);
            return parsed;
        }
        pos = body + size + (size & 1);
    }
    return std::nullopt;
}

QtSoundOutput::QtSoundOutput() = default;

QtSoundOutput::~QtSoundOutput() {
    for (auto& [id, sound] : sounds_) releaseStream(sound);
}

std::optional<SoundOutput::SoundId> QtSoundOutput::prepare(const QByteArray& wav) {
    const auto parsed = parseWav(wav);
    if (!parsed || parsed->floatSamples) return std::nullopt;
    Sound sound;
    sound.format.setSampleRate(parsed->sampleRate);
    sound.format.setChannelCount(parsed->channels);
    sound.format.setSampleFormat(QAudioFormat::Int16);
    sound.pcm = parsed->data;
    const SoundId id = next_++;
    sounds_.emplace(id, std::move(sound));
    return id;
}

void QtSoundOutput::releaseStream(Sound& sound) {
    if (sound.sink) {
        sound.sink->disconnect();
        sound.sink->stop();
    }
    sound.sink.reset();
    sound.buffer.reset();
}

void QtSoundOutput::stop(SoundId id) {
    auto it = sounds_.find(id);
    if (it == sounds_.end()) return;
    releaseStream(it->second);
}

void QtSoundOutput::play(SoundId id) {
    auto it = sounds_.find(id);
    if (it == sounds_.end()) return;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return;
    Sound& sound = it->second;
    releaseStream(sound);
    sound.sink = std::make_unique<QAudioSink>(device, sound.format);
    sound.buffer = std::make_unique<QBuffer>();
    sound.buffer->setData(sound.pcm);
    sound.buffer->open(QIODevice::ReadOnly);
    // Idle: every sample has been handed to the sound server, whose buffer (at most the sink's
    // buffer size) still has to play. The stream goes once that time and a margin have passed;
    // it is never stopped from inside its own signal.
    QAudioSink* sink = sound.sink.get();
    QObject::connect(sink, &QAudioSink::stateChanged, sink, [&sound, sink](QAudio::State state) {
        if (state != QAudio::IdleState || sound.sink.get() != sink || sound.buffer->bytesAvailable() > 0) return;
        const qint64 bufferedUs = sound.format.durationForBytes(static_cast<qint32>(sink->bufferSize()));
        QTimer::singleShot(static_cast<int>(bufferedUs / 1000) + kReleaseMarginMs, sink, [&sound, sink] {
            if (sound.sink.get() == sink) releaseStream(sound);
        });
    });
    sound.sink->start(sound.buffer.get());
}

}  // namespace vocalynx
