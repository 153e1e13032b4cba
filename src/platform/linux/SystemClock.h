#pragma once
#include <QString>
#include <mutex>

#include "platform/Clock.h"
#include "platform/Logger.h"

namespace vocalynx {

class SystemClock final : public Clock {
public:
    MonoTime now() const override { return std::chrono::steady_clock::now(); }
    WallTime wallNow() const override { return std::chrono::system_clock::now(); }
    void sleepFor(Duration d) override;
};

// Writes each line with one write(2) call on standard output.
class StdoutLogger final : public Logger {
public:
    void line(const QString& text) override;

private:
    std::mutex mutex_;
};

}  // namespace vocalynx
