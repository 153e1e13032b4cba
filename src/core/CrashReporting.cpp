#include "core/CrashReporting.h"

namespace vocalynx {

bool CrashReporting::configure(const InfoDictionary& info, Logger& log) {
    const QString dsn = info.string(InfoDictionary::kSentryDSN).trimmed();
    if (dsn.isEmpty()) {
        log.line(QStringLiteral("[Vocalynx] Sentry disabled: SentryDSN is empty"));
        return false;
    }
    return false;
}

}  // namespace vocalynx
