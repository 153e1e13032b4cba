#include "overlay/StatusRow.h"

#include <cmath>

#include "overlay/OverlayPalette.h"
#include "overlay/StatusViews.h"

namespace vocalynx {

StatusRow::StatusRow(Runtime& runtime, QWidget* parent) : QWidget(parent), runtime_(runtime) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void StatusRow::build(NotchOverlayView::StatusContent content, const NotchOverlayView::EngineValues& values) {
    qDeleteAll(findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
    arc_ = nullptr;
    indicator_ = nullptr;
    stream_ = nullptr;
    label_ = nullptr;
    content_ = content;
    switch (content) {
        case NotchOverlayView::StatusContent::none: break;
        case NotchOverlayView::StatusContent::transcribing:
            arc_ = new SpinningArc(runtime_.clock, runtime_.main, this);
            label_ = new StatusTextLabel(transcribingText(values.previewText), QFont::Normal, 0.8,
                                         StatusTextLabel::Truncation::head, this);
            break;
        case NotchOverlayView::StatusContent::listening:
            indicator_ = new BreathingIndicator(OverlayPalette::recording(), runtime_.clock, runtime_.main, this);
            // Created empty: only later changes of the transcript fill it.
            stream_ = new StreamingTextView(values.previewText, runtime_.clock, runtime_.main, this);
            break;
        case NotchOverlayView::StatusContent::connecting:
            arc_ = new SpinningArc(runtime_.clock, runtime_.main, this);
            label_ = new StatusTextLabel(connectingText(values.airPodsMicrophone), QFont::Medium, 0.5,
                                         StatusTextLabel::Truncation::none, this);
            break;
    }
    layoutContent();
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) child->show();
}

void StatusRow::refresh(const NotchOverlayView::EngineValues& values) {
    if (content_ == NotchOverlayView::StatusContent::transcribing && label_)
        label_->setText(transcribingText(values.previewText));
    if (content_ == NotchOverlayView::StatusContent::listening && stream_) stream_->setText(values.previewText);
    if (content_ == NotchOverlayView::StatusContent::connecting && label_) {
        const QString text = connectingText(values.airPodsMicrophone);
        if (label_->text() != text) {
            label_->setText(text);
            layoutContent();
        }
    }
}

QString StatusRow::connectingText(bool airPods) {
    return airPods ? QStringLiteral("连接 AirPods 麦克风...") : QStringLiteral("连接麦克风...");
}

void StatusRow::finishFades() {
    if (stream_) stream_->finishFades();
}

QString StatusRow::transcribingText(const QString& preview) {
    return preview.isEmpty() ? QStringLiteral("转写中...") : preview;
}

void StatusRow::layoutContent() {
    const double rowWidth = width() - kBleed;
    const double x0 = kBleed;
    if (arc_) {
        arc_->placeContent(QRectF(x0, (kHeight - 10) / 2, 10, 10));
        const double spacing = content_ == NotchOverlayView::StatusContent::connecting ? 6 : 8;
        const double textX = x0 + 10 + spacing;
        double textWidth = std::max(0.0, rowWidth - 10 - spacing);
        if (content_ == NotchOverlayView::StatusContent::connecting && label_)
            textWidth = std::min(textWidth, label_->naturalWidth());
        if (label_)
            label_->setGeometry(static_cast<int>(textX), 0, static_cast<int>(std::ceil(textWidth)),
                                static_cast<int>(kHeight));
    }
    if (indicator_) {
        indicator_->placeContent(QRectF(x0, (kHeight - 14) / 2, 14, 14));
        const double textX = x0 + 14 + 8;
        if (stream_)
            stream_->setGeometry(static_cast<int>(textX), 0, static_cast<int>(std::max(0.0, rowWidth - 14 - 8)),
                                 static_cast<int>(kHeight));
    }
}

}  // namespace vocalynx
