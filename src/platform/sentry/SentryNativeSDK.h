#pragma once
#include <QString>

#include "core/CrashReporting.h"

namespace vocalynx {

// Crash reporting through the native Sentry SDK's C interface. Built only when the SDK is
// installed (and, in the tests, against a recording stand-in of the few functions it calls).
//
// Options without a counterpart in the native SDK: crash events always carry the crashing
// thread's stack (attachStacktrace), hangs are noticed by our own main-thread watchdog rather
// than by the SDK (enableAppHangTracking), and swizzling does not exist outside Apple platforms.
// No personal data is attached by default, and the event filter removes the user in any case.
class SentryNativeSDK final : public CrashReportingSDK {
public:
    // databaseFolder: where the SDK keeps reports and sessions until they are sent.
    explicit SentryNativeSDK(QString databaseFolder);

    bool start(const Options& options) override;
    void setTag(const QString& key, const QString& value) override;
    void setContext(const QString& key, const QVariantMap& value) override;
    void addBreadcrumb(const QString& level, const QString& category) override;

private:
    QString databaseFolder_;
};

}  // namespace vocalynx
