#pragma once
#include <QWidget>

#include "overlay/NotchOverlayView.h"
#include "platform/Runtime.h"

namespace vocalynx {

class BreathingIndicator;
class SpinningArc;
class StatusTextLabel;
class StreamingTextView;

// The strip under the notch while a dictation runs; its children are built fresh whenever the
// content changes. The widget reaches kBleed points left of the row for the first view's glow.
class StatusRow : public QWidget {
public:
    // Horizontal room on the left of the row for the halo and glow of its first view.
    static constexpr double kBleed = 10;
    static constexpr double kHeight = 28;

    StatusRow(Runtime& runtime, QWidget* parent);

    void build(NotchOverlayView::StatusContent content, const NotchOverlayView::EngineValues& values);
    void refresh(const NotchOverlayView::EngineValues& values);
    void finishFades();

    static QString transcribingText(const QString& preview);
    // What the row says while the microphone starts: AirPods are named only when they record.
    static QString connectingText(bool airPods);

protected:
    void resizeEvent(QResizeEvent*) override { layoutContent(); }

private:
    void layoutContent();

    Runtime& runtime_;
    NotchOverlayView::StatusContent content_ = NotchOverlayView::StatusContent::none;
    SpinningArc* arc_ = nullptr;
    BreathingIndicator* indicator_ = nullptr;
    StreamingTextView* stream_ = nullptr;
    StatusTextLabel* label_ = nullptr;
};

}  // namespace vocalynx
