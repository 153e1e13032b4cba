#pragma once
#include <QColor>
#include <QImage>
#include <QProcessEnvironment>
#include <QString>
#include <optional>

#include "core/Types.h"
#include "platform/Logger.h"

namespace vocalynx {

// Stages the panel in one state with sample content, selected by environment variables.
struct ScreenshotMode {
    enum class State { hover, recording, transcribing, idle };
    State state = State::idle;
    std::optional<QString> outputDirectory;

    static QString stateName(State state);
    static std::optional<ScreenshotMode> fromEnvironment(const QProcessEnvironment& environment, Logger& log);

    // What a staged state writes into the speech engine, and whether the panel hovers.
    struct StagedEngine {
        RecordingState state;
        QString previewText;
        bool micReady;
        bool hovering;
    };
    static StagedEngine stagedEngine(State state);

    // The sample track shown by every staged state.
    struct SampleMedia {
        QString trackTitle;
        QString artist;
        QString album;
        QColor artworkAccentColor;
        QString activePlayer;
    };
    static SampleMedia sampleMedia();

    // The sample album cover: 92 x 92 points at the given scale.
    static QImage makeScreenshotArtwork(double scale = 2.0);

    // The file name of a state's exported image.
    static QString heroFileName(State state);
    // Writes the rendered hero image as a PNG into the folder (created with its parents when
    // missing; a relative path is taken from the working directory), replacing an older file, and
    // prints the result line. A null image is a render failure.
    static void writeHeroImage(const QImage& image, State state, const QString& outputDirectory, Logger& log);
};

}  // namespace vocalynx
