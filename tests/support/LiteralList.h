#pragma once
// A list of literal texts (a command line, module arguments) as the QStringList the Qt calls take.

#include <QString>
#include <QStringList>
#include <initializer_list>

namespace vocalynx::test {

inline QStringList literalList(std::initializer_list<const char*> texts) {
    QStringList list;
    for (const char* text : texts) list << QString::fromUtf8(text);
    return list;
}

}  // namespace vocalynx::test
