#include "core/CrashReporting.h"

#include <QSysInfo>
#include <QThread>
#include <unistd.h>

namespace vocalynx {

DeviceFacts DeviceFacts::current() {
    DeviceFacts facts;
    facts.osPrettyName = QSysInfo::prettyProductName();
    facts.processorCount = QThread::idealThreadCount();
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0) facts.physicalMemory = static_cast<quint64>(pages) * static_cast<quint64>(pageSize);
    return facts;
}

QString CrashReporting::releaseName(const InfoDictionary& info) {
    auto orZero = [&info](const QString& key) {
        return info.contains(key) ? info.string(key) : QStringLiteral("0");
    };
    return QStringLiteral("Vocalynx@") + orZero(InfoDictionary::kShortVersion) + QStringLiteral("+") +
           orZero(InfoDictionary::kBuildNumber);
}

CrashReportingSDK::Options CrashReporting::options(const InfoDictionary& info, const QString& dsn) {
    CrashReportingSDK::Options o;
    o.dsn = dsn;
    o.environment = info.contains(InfoDictionary::kSentryEnvironment) ? info.string(InfoDictionary::kSentryEnvironment)
                                                                     : QStringLiteral("beta");
    o.releaseName = releaseName(info);
    return o;
}

bool CrashReporting::configure(const InfoDictionary& info, Logger& log, CrashReportingSDK* sdk,
                               const DeviceFacts& facts) {
    const QString dsn = info.string(InfoDictionary::kSentryDSN).trimmed();
    if (dsn.isEmpty()) {
        log.line(QStringLiteral("[Vocalynx] Sentry disabled: SentryDSN is empty"));
        return false;
    }
    if (!sdk) {
        log.line(QStringLiteral("[Vocalynx] Sentry disabled: this build has no crash-reporting SDK"));
        return false;
    }
    if (!sdk->start(options(info, dsn))) {
        log.line(QStringLiteral("[Vocalynx] Sentry disabled: the SDK did not start"));
        return false;
    }
    sdk->setTag(QStringLiteral("platform"), QStringLiteral("linux"));
    sdk->setTag(QStringLiteral("macos.version"), facts.osPrettyName);
    sdk->setContext(QStringLiteral("device"), QVariantMap{{QStringLiteral("processorCount"), facts.processorCount},
                                                          {QStringLiteral("physicalMemory"), facts.physicalMemory}});
    return true;
}

void CrashReporting::setLastColiCleanupPidTag(CrashReportingSDK& scope, std::int32_t pid) {
    scope.setTag(QStringLiteral("last_coli_cleanup_pid"), QString::number(pid));
}

}  // namespace vocalynx
