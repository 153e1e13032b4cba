#include "core/Text.h"

#include <QTextBoundaryFinder>

namespace vocalynx {

int characterCount(const QString& text) {
    if (text.isEmpty()) return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1) ++count;
    return count;
}

QString characterPrefix(const QString& text, int count) {
    if (count <= 0) return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int seen = 0;
    qsizetype position = 0;
    while (seen < count) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1) return text;
        position = next;
        ++seen;
    }
    return text.left(position);
}

}  // namespace vocalynx
