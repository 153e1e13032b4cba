#include "platform/linux/SystemClock.h"

#include <unistd.h>

#include <thread>

namespace vocalynx {

void SystemClock::sleepFor(Duration d) {
    if (d > Duration(0)) std::this_thread::sleep_for(d);
}

void StdoutLogger::line(const QString& text) {
    QByteArray bytes = text.toUtf8();
    bytes.append('\n');
    std::lock_guard lock(mutex_);
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, p, static_cast<size_t>(left));
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return;  // standard output is gone; diagnostics are best effort
        }
        p += n;
        left -= n;
    }
}

}  // namespace vocalynx
