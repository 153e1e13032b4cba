#include "RecordingLogger.h"

#include <cstdio>

namespace vocalynx::test {

void RecordingLogger::line(const QString& text) {
    static const bool echo = qEnvironmentVariableIsSet("VOCALYNX_TEST_ECHO");
    if (echo) std::printf("%s\n", text.toUtf8().constData());
    std::lock_guard lock(mutex_);
    lines_.push_back(text);
}

QStringList RecordingLogger::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool RecordingLogger::contains(const QString& exact) const { return count(exact) > 0; }

bool RecordingLogger::containsPart(const QString& part) const { return indexOf(part) >= 0; }

int RecordingLogger::count(const QString& exact) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(lines_.count(exact));
}

int RecordingLogger::countPart(const QString& part) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& l : lines_)
        if (l.contains(part)) ++n;
    return n;
}

int RecordingLogger::indexOf(const QString& part, int from) const {
    std::lock_guard lock(mutex_);
    for (int i = std::max(0, from); i < lines_.size(); ++i)
        if (lines_[i].contains(part)) return i;
    return -1;
}

void RecordingLogger::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

}  // namespace vocalynx::test
