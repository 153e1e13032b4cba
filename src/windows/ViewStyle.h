#pragma once
#include <QFont>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

namespace vocalynx::style {

// The text styles and control looks the windows share.
QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal);
QFont titleFont();   // large title, 28
QFont title2Font();  // second-level title, 22

// A label in the secondary (dimmed) text colour.
QLabel* secondaryLabel(const QString& text, QWidget* parent = nullptr);
// A filled button in the accent colour: the main action of a step.
QPushButton* prominentButton(const QString& text, QWidget* parent = nullptr, bool large = false);
// A plain bordered button.
QPushButton* defaultButton(const QString& text, QWidget* parent = nullptr);
// The dimmed text colour of the palette.
QColor secondaryColor(const QWidget* widget = nullptr);
// Makes the accent colour the selection colour of the widget and its children, so progress bars,
// radio buttons and list selections share the prominent buttons' colour.
void useAccentForSelection(QWidget* widget);

}  // namespace vocalynx::style
