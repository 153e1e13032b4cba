#pragma once
// The small set of symbols the windows show ("gearshape", "globe", "chevron.right", ...), drawn
// by our own painter code so that they scale cleanly at any size and colour.

#include <QColor>
#include <QRectF>
#include <QString>
#include <QWidget>

class QPainter;

namespace vocalynx {

// True when the symbol name is one we can draw.
bool canPaintSymbol(const QString& name);

// Draws the symbol centred in the box, scaled to fit its smaller side. weight 1.0 is regular,
// larger values draw heavier strokes (semibold about 1.25).
void paintSymbol(QPainter& painter, const QString& name, const QRectF& box, const QColor& color, double weight = 1.0);

// A widget that shows one symbol at a point size (the symbol's height, as a glyph of a font of
// that size would be) centred in a fixed frame.
class SymbolView : public QWidget {
public:
    SymbolView(QString name, double pointSize, QColor color, QSize frame, double weight = 1.0, QWidget* parent = nullptr);
    const QString& name() const { return name_; }
    void setColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString name_;
    double pointSize_;
    QColor color_;
    double weight_;
};

}  // namespace vocalynx
