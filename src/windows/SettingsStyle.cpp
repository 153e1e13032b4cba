#include "windows/SettingsStyle.h"

#include <QStringList>

namespace vocalynx::ui {

QColor primary(double opacity) { return QColor(0, 0, 0, static_cast<int>(0.85 * 255 * opacity + 0.5)); }
QColor secondary() { return QColor(0, 0, 0, 128); }
QColor tertiary() { return QColor(0, 0, 0, 66); }
QColor quaternaryFill() { return QColor(0, 0, 0, 13); }

QColor accent() { return QColor::fromRgba(kAccentRgb); }
QColor gray() { return QColor(0x8E, 0x8E, 0x93); }
QColor green() { return QColor(0x28, 0xCD, 0x41); }
QColor red() { return QColor(0xFF, 0x3B, 0x30); }
QColor blue() { return QColor(0x00, 0x7A, 0xFF); }
QColor indigo() { return QColor(0x58, 0x56, 0xD6); }
QColor purple() { return QColor(0xAF, 0x52, 0xDE); }

QColor windowBackground() { return QColor(0xEC, 0xEC, 0xEC); }
QColor sidebarBackground() { return QColor(0xE3, 0xE3, 0xE6); }
QColor formBackground() { return QColor(0xF7, 0xF7, 0xF7); }
QColor separator() { return QColor(0, 0, 0, 26); }

QFont systemFont(double points, QFont::Weight weight, bool monospaced) {
    QFont font;
    if (monospaced)
        font.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Noto Sans Mono CJK SC"),
                          QStringLiteral("Noto Sans Mono"), QStringLiteral("monospace")});
    else
        font.setFamilies({QStringLiteral("Noto Sans"), QStringLiteral("Noto Sans CJK SC"), QStringLiteral("DejaVu Sans"),
                          QStringLiteral("sans-serif")});
    if (monospaced) font.setStyleHint(QFont::Monospace);
    font.setPixelSize(static_cast<int>(points + 0.5));
    font.setWeight(weight);
    return font;
}

QFont bodyFont() { return systemFont(13); }
QFont captionFont() { return systemFont(10); }
QFont footnoteFont() { return systemFont(10); }
QFont headlineFont() { return systemFont(13, QFont::Bold); }

}  // namespace vocalynx::ui
