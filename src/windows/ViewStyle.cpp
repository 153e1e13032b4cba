#include "windows/ViewStyle.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

#include "windows/SettingsStyle.h"

namespace vocalynx::style {

QFont systemFont(int pixelSize, QFont::Weight weight) {
    QFont font = QApplication::font();
    // One family for Chinese and Latin text keeps the lines of mixed text on one baseline.
    QStringList families{QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans SC")};
    families += font.families();
    families += font.family();
    font.setFamilies(families);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont titleFont() { return systemFont(28); }
QFont title2Font() { return systemFont(22); }

QColor secondaryColor(const QWidget* widget) {
    const QPalette palette = widget ? widget->palette() : QApplication::palette();
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(0.55f);
    return c;
}

QLabel* secondaryLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(systemFont(13));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, secondaryColor(label));
    label->setPalette(p);
    label->setAlignment(Qt::AlignHCenter);
    return label;
}

QPushButton* prominentButton(const QString& text, QWidget* parent, bool large) {
    auto* button = new QPushButton(text, parent);
    button->setDefault(true);
    button->setFont(systemFont(large ? 15 : 13));
    const QString padding = large ? QStringLiteral("5px 22px") : QStringLiteral("4px 16px");
    const QColor accent = ui::accent();
    button->setStyleSheet(QStringLiteral("QPushButton { background-color: %2; color: white;"
                                         " border: none; border-radius: 6px; padding: %1; }"
                                         "QPushButton:pressed { background-color: %3; }"
                                         "QPushButton:disabled { background-color: rgba(0,0,0,25); color: rgba(0,0,0,64); }")
                              .arg(padding, accent.name(), accent.darker(115).name()));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

void useAccentForSelection(QWidget* widget) {
    QPalette p = widget->palette();
    p.setColor(QPalette::Highlight, ui::accent());
    p.setColor(QPalette::HighlightedText, Qt::white);
    widget->setPalette(p);
}

QPushButton* defaultButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setFont(systemFont(13));
    button->setStyleSheet(QStringLiteral("QPushButton { background-color: palette(button); border: 1px solid palette(mid);"
                                         " border-radius: 6px; padding: 4px 14px; }"
                                         "QPushButton:pressed { background-color: palette(midlight); }"));
    button->setAutoDefault(false);
    return button;
}

}  // namespace vocalynx::style
