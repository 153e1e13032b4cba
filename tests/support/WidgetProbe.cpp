#include "WidgetProbe.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLayout>

namespace vocalynx::test {

QImage saveArtifact(QWidget& widget, const QString& name) {
    widget.ensurePolished();
    if (QLayout* outer = widget.window()->layout()) outer->activate();
    if (widget.layout()) widget.layout()->activate();
    QImage image(widget.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(widget.palette().color(QPalette::Window));
    widget.render(&image);
    const QString dir = QStringLiteral(VOCALYNX_ARTIFACTS_DIR);
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
    return image;
}

QAbstractButton* findButton(QWidget* root, const QString& text) {
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>())
        if (button->text() == text && button->isVisibleTo(root)) return button;
    return nullptr;
}

QStringList visibleTexts(QWidget* root) {
    QStringList texts;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(root)) continue;
        if (auto* label = qobject_cast<QLabel*>(w); label && !label->text().isEmpty()) texts << label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(w)) texts << button->text();
    }
    return texts;
}

}  // namespace vocalynx::test
