#include "platform/linux/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace vocalynx {

bool QtClipboard::setText(const QString& text) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) return false;
    clipboard->clear(QClipboard::Clipboard);
    clipboard->setText(text, QClipboard::Clipboard);
    // Terminals paste the primary selection on Shift+Insert: it carries the text too.
    if (clipboard->supportsSelection()) clipboard->setText(text, QClipboard::Selection);
    // While we own the selection this reads our own data back, without a round trip.
    return clipboard->text(QClipboard::Clipboard) == text;
}

QString QtClipboard::text() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return {};
    QClipboard* clipboard = QGuiApplication::clipboard();
    return clipboard ? clipboard->text(QClipboard::Clipboard) : QString();
}

}  // namespace vocalynx
