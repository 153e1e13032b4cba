#pragma once
// Colours and fonts shared by the settings window and its panes: the platform's standard light
// colours and the system font, sizes in points (one point is one device-independent pixel).

#include <QColor>
#include <QFont>

namespace vocalynx::ui {

// Label colours.
QColor primary(double opacity = 1.0);  // black text; scaled by opacity
QColor secondary();                    // secondary label
QColor tertiary();
QColor quaternaryFill();               // key caps and other faint fills

// The one accent colour of every window: prominent buttons, switches, the recorder's border,
// focus rings, progress bars and selections.
inline constexpr QRgb kAccentRgb = 0xFF007AFF;
QColor accent();
QColor gray();
QColor green();
QColor red();
QColor blue();
QColor indigo();
QColor purple();

// Surfaces.
QColor windowBackground();
QColor sidebarBackground();
QColor formBackground();
QColor separator();

// The system font at a size in points and a weight; monospaced design when asked.
QFont systemFont(double points, QFont::Weight weight = QFont::Normal, bool monospaced = false);
QFont bodyFont();      // 13
QFont captionFont();   // 10
QFont footnoteFont();  // 10
QFont headlineFont();  // 13, bold

}  // namespace vocalynx::ui
