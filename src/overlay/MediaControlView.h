#pragma once
// The now-playing card of the expanded panel: a hint when the player cannot be read, the track
// with its artwork and three transport buttons, or a nothing-playing line. Its glass background
// takes its tint from the artwork's accent colour and moves to a new colour over 0.6 s. It keeps
// no state of its own beyond that animation: every paint reads the media service.

#include <QAbstractButton>
#include <QColor>
#include <optional>

#include "gestures/MediaRemoteService.h"
#include "overlay/OverlayAnimation.h"
#include "overlay/OverlayItem.h"

namespace vocalynx {

class MediaControlView : public OverlayItem {
public:
    enum class Content { permissionHint, nowPlaying, nothingPlaying };

    // The background's colours for one accent state, so that a change can be animated.
    struct Glass {
        QColor base;            // layer 1
        QColor tint;            // layer 2
        double materialOpacity; // layer 3
        QColor sheen[3];        // layer 4, top-leading to bottom-trailing
        QColor border[3];       // the rim's gradient
        QColor accentShadow;    // the coloured shadow
    };

    static constexpr double kBleed = 40;
    static constexpr double kAccentAnimationSeconds = 0.6;

    MediaControlView(MediaRemoteService& media, MainQueue& main, Clock& clock, double cardCornerRadius,
                     QWidget* parent = nullptr);
    ~MediaControlView() override;

    // Which content the service's fields call for.
    static Content contentFor(const QString& trackTitle, const std::optional<QString>& automationWarning);
    Content content() const;

    static Glass glassFor(const std::optional<AccentColor>& accent);
    static Glass mix(const Glass& from, const Glass& to, double progress);
    // The background as painted now (mid-animation while the accent changes).
    Glass presentedGlass() const;
    bool isAnimatingAccent() const { return ticker_.isRunning(); }
    // Ends a running accent animation at its target (for pictures taken at once).
    void finishAnimations();

    QAbstractButton& previousButton() const { return *buttons_[0]; }
    QAbstractButton& playPauseButton() const { return *buttons_[1]; }
    QAbstractButton& nextButton() const { return *buttons_[2]; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void accentChanged();
    void onFrame();
    void layoutButtons();
    void paintBackground(QPainter& painter, const QRectF& card);
    void paintHint(QPainter& painter, const QRectF& card);
    void paintNowPlaying(QPainter& painter, const QRectF& card);
    void paintNothingPlaying(QPainter& painter, const QRectF& card);

    MediaRemoteService& media_;
    Clock& clock_;
    double radius_;
    Glass from_, to_;
    MonoTime accentStart_{};
    FrameTicker ticker_;
    QAbstractButton* buttons_[3];
};

}  // namespace vocalynx
