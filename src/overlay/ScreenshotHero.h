#pragma once
// The composed marketing picture of screenshot mode: a dark desktop with light beams, a mock menu
// bar, a mock terminal in which a coding agent has just received a dictated request, a card with
// the sentence that was typed, and the real notch panel on top. Sizes are in points.

#include <QColor>
#include <QImage>
#include <QWidget>

class QPainter;

namespace vocalynx {

namespace hero {
// Sample colours shared by the scene.
inline const QColor kWarmOrange = QColor::fromRgbF(0.91f, 0.55f, 0.26f);
inline const QColor kPaleGold = QColor::fromRgbF(0.96f, 0.76f, 0.48f);
inline const QColor kWindowFill = QColor::fromRgbF(0.04f, 0.04f, 0.05f);

// Each paints one layer into the rectangle given (the painter's coordinates are points).
void paintBackdrop(QPainter& painter, const QRectF& rect);
void paintMenuBar(QPainter& painter, const QRectF& rect);
void paintTerminalWindow(QPainter& painter, const QRectF& rect);
void paintTypedCard(QPainter& painter, const QRectF& rect);

// The sentence the typed card shows: the words the recording state stages in the panel.
QString typedSentence();

constexpr double kMenuBarHeight = 38;
constexpr QSizeF kTerminalSize{920, 480};
constexpr double kTypedCardWidth = 980;
double typedCardHeight();
}  // namespace hero

// The desktop backdrop alone; the live screenshot scene shows it full-screen behind the panel.
class ScreenshotBackdropView : public QWidget {
public:
    explicit ScreenshotBackdropView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent*) override;
};

// The whole composition at exactly 1728 x 1080 points. The overlay layer (the notch panel view)
// is handed in as a child widget and placed at the top centre, above the other layers.
class ScreenshotHeroExportView : public QWidget {
public:
    static constexpr QSize kSize{1728, 1080};
    explicit ScreenshotHeroExportView(QWidget* overlay = nullptr, QWidget* parent = nullptr);
    // Renders the view off screen at the given scale (2: a 3456 x 2160 bitmap).
    QImage render(double scale = 2.0);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void placeOverlay();
    QWidget* overlay_;
};

}  // namespace vocalynx
