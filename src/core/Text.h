#pragma once
#include <QString>

namespace vocalynx {

// Lengths and prefixes in user-perceived characters (extended grapheme clusters).
int characterCount(const QString& text);
QString characterPrefix(const QString& text, int count);

inline QString boolText(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

}  // namespace vocalynx
