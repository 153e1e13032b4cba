#include "platform/Diagnostics.h"

#include <QDateTime>
#include <QTimeZone>

namespace vocalynx {

QString Diagnostics::timestamp(WallTime date) {
    WallTime reference;
    {
        std::lock_guard lock(mutex_);
        if (!reference_) reference_ = date;
        reference = *reference_;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
    const QString iso = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
    const double uptime = std::chrono::duration<double>(date - reference).count();
    return QStringLiteral("ts=") + iso + QStringLiteral(" uptime=") + QString::asprintf("%.1f", uptime) +
           QStringLiteral("s");
}

void Diagnostics::logState(const QString& message, WallTime date) {
    log_.line(QStringLiteral("[Vocalynx][StateDiagnostics] ") + timestamp(date) + QLatin1Char(' ') + message);
}

}  // namespace vocalynx
