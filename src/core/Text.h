#pragma once
#include <QString>

namespace vocalynx {

// Lengths and prefixes in user-perceived characters (extended grapheme clusters).
int characterCount(const QString& text);
QString characterPrefix(const QString& text, int count);

inline QString boolText(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

// A number as the diagnostics lines print it, with at least one fraction digit: "60.0", "1.234".
inline QString decimalText(double value) {
    QString text = QString::number(value, 'g', 15);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e'))) text += QStringLiteral(".0");
    return text;
}

}  // namespace vocalynx
