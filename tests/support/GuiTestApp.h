#pragma once
// Widgets in tests: the one application object of a test program, pictures kept for a person to
// look at, and waiting for real events with a deadline.

#include <QApplication>
#include <QImage>
#include <QString>
#include <functional>

class QAbstractButton;
class QWidget;

namespace vocalynx::test {

// The test program's application object, made on first use (on the offscreen platform unless
// QT_QPA_PLATFORM names another).
QApplication& guiTestApplication();

// Renders the widget at device pixel ratio 2 and saves it as build/artifacts/<name>.png.
QImage saveArtifact(QWidget& widget, const QString& name);

// Runs the event loop until the condition holds; false when the deadline passes first.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

// The visible button with exactly this text inside the widget, or null.
QAbstractButton* findButton(QWidget* root, const QString& text);
// All visible label and button texts inside the widget, in creation order.
QStringList visibleTexts(QWidget* root);

}  // namespace vocalynx::test
