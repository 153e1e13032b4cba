#include "GuiTestApp.h"

#include <QAbstractButton>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QThread>

namespace vocalynx::test {

QApplication& guiTestApplication() {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return *existing;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "vocalynx-tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    return *app;
}

QImage saveArtifact(QWidget& widget, const QString& name) {
    widget.ensurePolished();
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

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
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
