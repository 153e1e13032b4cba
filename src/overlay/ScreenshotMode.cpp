#include "overlay/ScreenshotMode.h"

#include <array>

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

}  // namespace vocalynx
