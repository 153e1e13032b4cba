#include "overlay/ScreenshotMode.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QLinearGradient>
#include <QPainter>
#include <QSaveFile>
#include <array>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace vocalynx {

QString ScreenshotMode::stateName(State state) {
    switch (state) {
        case State::hover: return QStringLiteral("hover");
        case State::recording: return QStringLiteral("recording");
        case State::transcribing: return QStringLiteral("transcribing");
        case State::idle: return QStringLiteral("idle");
    }
    return {};
}

std::optional<ScreenshotMode> ScreenshotMode::fromEnvironment(const QProcessEnvironment& environment, Logger& log) {
    const QString value = environment.value(QStringLiteral("VOCALYNX_SCREENSHOT_MODE"));
    if (value.isEmpty()) return std::nullopt;
    const QString lowered = value.toLower();
    static constexpr std::array kStates{State::hover, State::recording, State::transcribing, State::idle};
    for (State s : kStates) {
        if (stateName(s) != lowered) continue;
        ScreenshotMode mode;
        mode.state = s;
        if (environment.contains(QStringLiteral("VOCALYNX_SCREENSHOT_OUTPUT_DIR")))
            mode.outputDirectory = environment.value(QStringLiteral("VOCALYNX_SCREENSHOT_OUTPUT_DIR"));
        return mode;
    }
    log.line(QStringLiteral("[Vocalynx][ScreenshotMode] Unsupported state: ") + value);
    return std::nullopt;
}

ScreenshotMode::StagedEngine ScreenshotMode::stagedEngine(State state) {
    switch (state) {
        case State::hover: return {RecordingState::idle, QString(), false, true};
        case State::recording:
            return {RecordingState::recording, QStringLiteral("把这段想法整理成发布说明，语气轻松一点。"), true, false};
        case State::transcribing:
            return {RecordingState::transcribing, QStringLiteral("正在整理你刚才说的话，马上输入到当前光标。"), false, false};
        case State::idle: break;
    }
    return {RecordingState::idle, QString(), false, false};
}

ScreenshotMode::SampleMedia ScreenshotMode::sampleMedia() {
    return {QStringLiteral("晚风与猫 (Acoustic Version)"), QStringLiteral("林小满"), QStringLiteral("夏日纸飞机"),
            QColor::fromRgbF(0.55f, 0.48f, 0.42f, 1.0f), QStringLiteral("Music")};
}

QImage ScreenshotMode::makeScreenshotArtwork(double scale) {
    constexpr double kSide = 92;
    const int pixels = int(std::lround(kSide * scale));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // The cover is laid out with the origin at the bottom left and y upwards; flip into Qt's space.
    painter.translate(0, kSide);
    painter.scale(1, -1);

    // A gradient at -35 degrees that spans the whole square.
    const double angle = -35.0 * M_PI / 180.0;
    const QPointF direction(std::cos(angle), std::sin(angle));
    const double half = kSide / 2 * (std::abs(direction.x()) + std::abs(direction.y()));
    const QPointF centre(kSide / 2, kSide / 2);
    QLinearGradient gradient(centre - direction * half, centre + direction * half);
    gradient.setColorAt(0.0, QColor::fromRgbF(0.92f, 0.74f, 0.56f));
    gradient.setColorAt(0.5, QColor::fromRgbF(0.12f, 0.16f, 0.22f));
    gradient.setColorAt(1.0, QColor::fromRgbF(0.02f, 0.03f, 0.05f));
    painter.fillRect(QRectF(0, 0, kSide, kSide), gradient);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(1, 1, 1, 0.24f));
    painter.drawEllipse(QRectF(16, 18, 48, 58));
    painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.28f));
    painter.drawEllipse(QRectF(28, 42, 36, 34));
    painter.setBrush(QColor::fromRgbF(0.98f, 0.72f, 0.52f, 0.82f));
    painter.drawEllipse(QRectF(36, 28, 30, 34));
    return image;
}

QString ScreenshotMode::heroFileName(State state) {
    return QStringLiteral("vocalynx-notch-") + stateName(state) + QStringLiteral(".png");
}

void ScreenshotMode::writeHeroImage(const QImage& image, State state, const QString& outputDirectory, Logger& log) {
    QByteArray png;
    if (!image.isNull()) {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG")) png.clear();
    }
    if (png.isEmpty()) {
        log.line(QStringLiteral("[Vocalynx][ScreenshotMode] Failed to render hero image"));
        return;
    }
    const QString path = QDir(outputDirectory.isEmpty() ? QStringLiteral(".") : outputDirectory).filePath(heroFileName(state));
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(QFileInfo(path).path().toStdString()), error);
    if (error) {
        log.line(QStringLiteral("[Vocalynx][ScreenshotMode] Export failed: ") + QString::fromStdString(error.message()));
        return;
    }
    // Written beside the final name and renamed into place, so a failed write leaves no half file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size() || !file.commit()) {
        log.line(QStringLiteral("[Vocalynx][ScreenshotMode] Export failed: ") + file.errorString());
        return;
    }
    log.line(QStringLiteral("[Vocalynx][ScreenshotMode] Exported ") + path);
}

}  // namespace vocalynx
