#pragma once
#include <QColor>
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace vocalynx {

// The symbol images the windows use, drawn by our own painter code under the names the windows
// ask for ("airpodspro", "accessibility", "checkmark.circle.fill"). pointSize is the font size the
// symbol stands beside; the image is about that tall. An unknown name gives an empty pixmap.
QPixmap symbolPixmap(const QString& name, int pointSize, const QColor& color, qreal devicePixelRatio = 2.0);

// True when a symbol of that name exists.
bool hasSymbol(const QString& name);

// Paints the symbol as vectors, so it stays sharp at any pixel density.
class SymbolView : public QWidget {
public:
    SymbolView(QString name, int pointSize, QColor color, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QString name() const { return name_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString name_;
    int pointSize_;
    QColor color_;
};

}  // namespace vocalynx
