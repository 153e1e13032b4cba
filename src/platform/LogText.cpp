#include "platform/LogText.h"

#include <algorithm>

namespace vocalynx {

namespace {

// Escapes one UTF-16 unit, or returns an empty string when it needs none.
QString escaped(QChar c) {
    switch (c.unicode()) {
    case u'\n': return QStringLiteral("\\n");
    case u'\r': return QStringLiteral("\\r");
    case u'\t': return QStringLiteral("\\t");
    default: break;
    }
    const char16_t u = c.unicode();
    // C0 and C1 controls, DEL, and the Unicode line and paragraph separators, which some viewers
    // break lines at.
    if (u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x2028 || u == 0x2029)
        return QStringLiteral("\\u%1").arg(unsigned(u), 4, 16, QLatin1Char('0'));
    return {};
}

}  // namespace

QString boundedLogValue(QStringView value, qsizetype limit) {
    QString out;
    out.reserve(std::min(value.size(), limit) + 16);
    qsizetype taken = 0;  // units of `value` represented in `out`
    while (taken < value.size()) {
        const QChar c = value[taken];
        const QString esc = escaped(c);
        // A surrogate pair is taken whole or not at all.
        const qsizetype width = (c.isHighSurrogate() && taken + 1 < value.size() && value[taken + 1].isLowSurrogate())
                                    ? 2
                                    : 1;
        const qsizetype grows = esc.isEmpty() ? width : esc.size();
        if (out.size() + grows > limit) break;
        if (esc.isEmpty())
            out.append(value.mid(taken, width));
        else
            out.append(esc);
        taken += width;
    }
    if (taken < value.size())
        out += QStringLiteral("…(%1 chars)").arg(value.size());
    return out;
}

}  // namespace vocalynx
