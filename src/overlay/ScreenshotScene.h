#pragma once
// Screenshot mode's two scenes: the staged values written into the speech engine and the media
// service, and the export of the composed hero image.

#include <QImage>

#include "overlay/ScreenshotMode.h"

namespace vocalynx {

class ConfigStore;
class MediaRemoteService;
class PointerLocation;
class ScreenList;
class WhisperEngine;
struct Runtime;

struct ScreenshotScene {
    Runtime& runtime;
    ConfigStore& config;
    WhisperEngine& engine;
    MediaRemoteService* media;  // absent: the card shows nothing playing
    ScreenList& screens;
    PointerLocation& pointer;

    // Writes the state's row into the engine (state, preview text, mic readiness) and the sample
    // track into the media service.
    void applyScreenshotMockData(ScreenshotMode::State state) const;
    // Stages the state and renders the composition at scale 2 (3456 x 2160 pixels).
    QImage renderHeroImage(ScreenshotMode::State state) const;
    // Renders, writes the PNG into the mode's folder, prints the result line and asks the
    // application to quit normally, on success and failure alike.
    void exportHeroImage(const ScreenshotMode& mode) const;
};

}  // namespace vocalynx
