#pragma once
#include <QString>
#include <QStringList>
#include <mutex>

#include "platform/Logger.h"

namespace vocalynx::test {

// Keeps every line; set VOCALYNX_TEST_ECHO=1 to see them on standard output as well.
class RecordingLogger final : public Logger {
public:
    void line(const QString& text) override;
    QStringList lines() const;
    bool contains(const QString& exact) const;
    bool contains(const char* exact) const { return contains(QString::fromUtf8(exact)); }
    bool containsPart(const QString& part) const;
    bool containsPart(const char* part) const { return containsPart(QString::fromUtf8(part)); }
    int count(const QString& exact) const;
    int countPart(const QString& part) const;
    int countPart(const char* part) const { return countPart(QString::fromUtf8(part)); }
    // Index of the first line containing part at or after from, or -1.
    int indexOf(const QString& part, int from = 0) const;
    void clear();

private:
    mutable std::mutex mutex_;
    QStringList lines_;
};

}  // namespace vocalynx::test
