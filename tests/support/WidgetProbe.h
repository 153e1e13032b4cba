#pragma once
// Widgets in tests: pictures kept for a person to look at, and finding controls by their text.
// The application object comes from guiApplication() (LiveRuntime.h).

#include <QApplication>
#include <QImage>
#include <QString>
#include <QStringList>

class QAbstractButton;
class QWidget;

namespace vocalynx::test {

// Renders the widget at device pixel ratio 2 and saves it as build/artifacts/<build tree>/<name>.png.
QImage saveArtifact(QWidget& widget, const QString& name);

// The visible button with exactly this text inside the widget, or null.
QAbstractButton* findButton(QWidget* root, const QString& text);
// All visible label and button texts inside the widget, in creation order.
QStringList visibleTexts(QWidget* root);

}  // namespace vocalynx::test
