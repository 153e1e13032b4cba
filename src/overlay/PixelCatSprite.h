#pragma once
// The small animated pixel cat at the left of the notch panel.

#include <QColor>
#include <QImage>
#include <QStringList>
#include <QWidget>
#include <map>
#include <optional>
#include <tuple>

#include "overlay/OverlayAnimation.h"
#include "overlay/OverlayItem.h"

namespace vocalynx {

enum class PixelCatMood { idle, connecting, recording };

class PixelCatSprite : public OverlayItem {
    Q_OBJECT

public:
    // Room around the cat's square for its glow and shadows; the widget is the square grown by it.
    static constexpr double kBleed = 12;

    PixelCatSprite(PixelCatMood mood, MainQueue& main, QWidget* parent = nullptr);

    // The frame names of every mood, built once.
    static const std::map<PixelCatMood, QStringList>& frames();
    static QColor glowColor(PixelCatMood mood);

    PixelCatMood mood() const { return mood_; }
    // A new mood changes the frame list at once; the counter and the tick interval stay.
    void setMood(PixelCatMood mood);
    int frame() const { return frame_; }
    // Seconds between frames, chosen from the mood the sprite was created with.
    double tickInterval() const { return interval_; }
    bool isTicking() const { return ticker_.isRunning(); }
    std::optional<QString> currentFrameName() const;
    void advanceFrame();

    // The cat's square is the item's frame (placeContent); its side is the frame's width.
    double side() const { return contentRect().width(); }

    // The whole sprite (glow, cat, shadows) for a square of side points, bleed included.
    QImage render(double side, double pixelRatio) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    PixelCatMood mood_;
    int frame_ = 0;
    double interval_;
    FrameTicker ticker_;
    // Rendered sprites by frame name, mood, side and pixel ratio (the last two in thousandths).
    using RenderKey = std::tuple<QString, int, long long, long long>;
    mutable std::map<RenderKey, QImage> cache_;
};

}  // namespace vocalynx
