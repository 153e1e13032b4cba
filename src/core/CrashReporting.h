#pragma once
#include <QString>
#include <QVariantMap>
#include <cstdint>

#include "platform/CrashReportingSDK.h"
#include "platform/InfoDictionary.h"
#include "platform/Logger.h"

namespace vocalynx {

// The machine facts that every report carries.
struct DeviceFacts {
    QString osPrettyName;  // the operating system's human-readable name and version
    int processorCount = 0;
    quint64 physicalMemory = 0;  // bytes

    static DeviceFacts current();
};

// Crash-reporting set-up: reporting runs only when the build carries a data source name.
class CrashReporting {
public:
    // Returns whether reporting was started. sdk is null in a build without the SDK.
    static bool configure(const InfoDictionary& info, Logger& log, CrashReportingSDK* sdk = nullptr,
                          const DeviceFacts& facts = DeviceFacts::current());

    // The options started with for this data source name.
    static CrashReportingSDK::Options options(const InfoDictionary& info, const QString& dsn);
    // "Vocalynx@" + short version + "+" + build number, each "0" when missing.
    static QString releaseName(const InfoDictionary& info);

    // Records the last speech process that the orphan clean-up ended.
    static void setLastColiCleanupPidTag(CrashReportingSDK& scope, std::int32_t pid);
};

}  // namespace vocalynx
