#pragma once
// The small views of the panel: the title, the breathing dot, the spinner, the live transcript
// and a one-line status text.

#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QStaticText>
#include <QUuid>
#include <QWidget>

#include "overlay/OverlayAnimation.h"
#include "overlay/OverlayItem.h"

namespace vocalynx {

class Clock;

// The product wordmark: the named image drawn 16 points high without smoothing, or, when the
// resources lack it, the word "Vocalynx" in three layers. Two soft shadows either way.
class VocalynxTitleView : public OverlayItem {
    Q_OBJECT

public:
    explicit VocalynxTitleView(QString assetName, QWidget* parent = nullptr);
    // The title's own size in points (height 16 for the image; the text's size otherwise).
    QSizeF contentSize() const;
    bool usesFallback() const;
    QImage render(double pixelRatio) const;
    void setOpacity(double opacity);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString assetName_;
    double opacity_ = 1;
    mutable QHash<int, QImage> cache_;  // by pixel ratio in thousandths
};

// A dot with a halo that swells and shrinks every 1.1 s while shown.
class BreathingIndicator : public OverlayItem {
    Q_OBJECT

public:
    BreathingIndicator(QColor color, Clock& clock, MainQueue& main, QWidget* parent = nullptr);
    // 0 at rest, 1 fully swollen; follows an ease-in-out that reverses on every repeat.
    double phase() const;
    QColor color() const { return color_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The whole picture at a phase, at a device pixel ratio.
    QImage frame(double phase, double pixelRatio) const;
    QColor color_;
    Clock& clock_;
    MonoTime shownAt_{};
    bool shown_ = false;
    FrameTicker ticker_;
    QHash<long long, QImage> frames_;  // by pixel ratio in hundredths and step of the swing
};

// An open ring that turns clockwise once every 0.9 s while shown.
class SpinningArc : public OverlayItem {
    Q_OBJECT

public:
    SpinningArc(Clock& clock, MainQueue& main, QWidget* parent = nullptr);
    // Degrees, starting at 0 when shown.
    double rotation() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    Clock& clock_;
    MonoTime shownAt_{};
    bool shown_ = false;
    FrameTicker ticker_;
};

// What the live transcript shows: the part seen before and the newest piece.
class StreamingTextModel {
public:
    enum class Change { none, cleared, extended, revised };
    // Applies a new transcript. Extended: the text seen so far became stable and the rest is the
    // new piece. Revised: the earlier words changed, so the whole line is stable.
    Change setText(const QString& text);

    QString stableText;
    QString newText;
    QUuid newTextID = QUuid::createUuid();
};

// The one-line live transcript: placeholder when empty; otherwise the stable part (its head
// cut when the row is too narrow) followed by the newest piece, which fades in.
class StreamingTextView : public QWidget {
    Q_OBJECT

public:
    StreamingTextView(QString text, Clock& clock, MainQueue& main, QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return text_; }
    const StreamingTextModel& model() const { return model_; }
    // Opacity of the newest piece and of the piece fading out after a revision.
    double newPieceOpacity() const;
    double outgoingOpacity() const;
    QString outgoingText() const { return outgoing_; }
    // Shows the text as it stands, with no fade still running (for pictures taken at once).
    void finishFades();

    static QFont textFont();
    static inline const QString kPlaceholder = QStringLiteral("请开始说话...");

protected:
    void paintEvent(QPaintEvent* event) override;
    // A hidden row shows its text as it stands when shown again; no fade runs meanwhile.
    void hideEvent(QHideEvent* event) override;

private:
    void dropFinishedFades();
    // The row's texts elided and shaped for what it shows and its size.
    struct Layout {
        bool valid = false;
        QString text, stableText, newText, outgoing;
        int width = 0, height = 0;
        QFont font;
        double top = 0;  // of the line
        double stableWidth = 0;
        QStaticText stable, fresh, outgoingText;  // stable: the placeholder when there is no text
    };
    void layOut();
    bool layoutIsCurrent() const;
    void updateFadingPiece();
    double fade(MonoTime since) const;
    Layout layout_;
    QString text_;
    StreamingTextModel model_;
    Clock& clock_;
    MonoTime newSince_{};
    bool newFading_ = false;
    QString outgoing_;
    MonoTime outgoingSince_{};
    FrameTicker ticker_;
};

// One line of status text in the panel's rounded font.
class StatusTextLabel : public QWidget {
    Q_OBJECT

public:
    enum class Truncation { head, none };
    StatusTextLabel(QString text, int weight, double opacity, Truncation truncation, QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const { return text_; }
    double naturalWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QFont font_;
    double opacity_;
    Truncation truncation_;
};

// The panel's sans font at a point size and weight (CSS-like 100..900).
QFont overlayFont(double pointSize, int weight);

}  // namespace vocalynx
