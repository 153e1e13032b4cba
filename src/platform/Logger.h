#pragma once
#include <QString>

namespace vocalynx {

// Diagnostics are whole lines on standard output, never interleaved between threads.
class Logger {
public:
    virtual ~Logger() = default;
    virtual void line(const QString& text) = 0;
};

}  // namespace vocalynx
