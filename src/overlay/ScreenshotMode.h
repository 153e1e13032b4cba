#pragma once
#include <QProcessEnvironment>
#include <QString>
#include <optional>

#include "platform/Logger.h"

namespace vocalynx {

// Stages the panel in one state with sample content, selected by environment variables.
struct ScreenshotMode {
    enum class State { hover, recording, transcribing, idle };
    State state = State::idle;
    std::optional<QString> outputDirectory;

    static QString stateName(State state);
    static std::optional<ScreenshotMode> fromEnvironment(const QProcessEnvironment& environment, Logger& log);
};

}  // namespace vocalynx
