#pragma once
#include <QString>

#include "platform/CrashReportingSDK.h"

namespace vocalynx {

// Crash reporting through the native Sentry SDK's C interface. Built only when the SDK is
// installed (and, in the tests, against a recording stand-in of the functions it calls).
//
// Of the options, the data source name, environment, release, session tracking and the event
// filter map onto the SDK's own setters, and hang tracking does too on an SDK that has its hang
// monitor (heartbeats from the main thread; see tracksAppHangs). The others have no counterpart
// here: crash events always carry the crashing thread's stack and the SDK has no switch for
// stacks on other events (attachStacktrace); swizzling exists only on Apple platforms
// (enableSwizzling); and the SDK has no personal-data switch on Linux, where it attaches none by
// default (sendDefaultPii false), while the event filter removes the user in any case.
class SentryNativeSDK final : public CrashReportingSDK {
public:
    // databaseFolder: where the SDK keeps reports and sessions until they are sent.
    explicit SentryNativeSDK(QString databaseFolder);

    bool start(const Options& options) override;
    void setTag(const QString& key, const QString& value) override;
    void setContext(const QString& key, const QVariantMap& value) override;
    void addBreadcrumb(const QString& level, const QString& category) override;
    bool tracksAppHangs() const override { return tracksAppHangs_; }
    void appHangHeartbeat() override;

private:
    QString databaseFolder_;
    bool tracksAppHangs_ = false;
};

}  // namespace vocalynx
