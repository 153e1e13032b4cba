#include "platform/linux/QtWorkspace.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>

namespace vocalynx {

bool QtUrlOpener::openUrl(const QUrl& url) {
    if (!url.isValid()) return false;
    return QDesktopServices::openUrl(url);
}

int QtAlertPresenter::runModal(const AlertRequest& request) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) ||
        QGuiApplication::platformName() == QLatin1String("offscreen")) {
        log_.line(QStringLiteral("[Vocalynx] Alert (no screen to show it): ") + request.message + QLatin1Char(' ') +
                  request.informativeText);
        return -1;
    }
    QMessageBox box(QMessageBox::Warning, QString(), request.message);
    box.setInformativeText(request.informativeText);
    std::vector<QAbstractButton*> buttons;
    for (const QString& text : request.buttons) {
        // The first button is the one Return presses; the others sit beside it.
        QPushButton* button = box.addButton(text, buttons.empty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
        if (buttons.empty()) box.setDefaultButton(button);
        buttons.push_back(button);
    }
    box.exec();
    for (size_t i = 0; i < buttons.size(); ++i)
        if (box.clickedButton() == buttons[i]) return int(i);
    return -1;
}

}  // namespace vocalynx
