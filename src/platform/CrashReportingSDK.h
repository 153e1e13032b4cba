#pragma once
#include <QString>
#include <QVariantMap>

namespace vocalynx {

// What the system asks of the crash-reporting SDK. The binding to the native SDK implements it;
// a build without the SDK has none.
class CrashReportingSDK {
public:
    struct Options {
        QString dsn;
        QString environment;
        QString releaseName;
        bool attachStacktrace = true;
        bool enableAutoSessionTracking = true;
        bool enableAppHangTracking = true;
        bool enableSwizzling = true;
        bool sendDefaultPii = false;
        // How long the main thread may go without a heartbeat before the SDK reports a hang.
        double appHangTimeout = 5.0;  // seconds
    };
    virtual ~CrashReportingSDK() = default;
    // Starts reporting with the options and the event filter, which clears every event's user and
    // removes "environment" and "process" from its extra data. False when the SDK refuses.
    virtual bool start(const Options& options) = 0;
    // Scope changes, kept for every later event.
    virtual void setTag(const QString& key, const QString& value) = 0;
    // Values: integers (int as a 32-bit, qulonglong as an unsigned 64-bit number), doubles, strings.
    virtual void setContext(const QString& key, const QVariantMap& value) = 0;
    // A breadcrumb without a message. Ignored by an SDK that was not started.
    virtual void addBreadcrumb(const QString& level, const QString& category) = 0;
    // True once started with hang tracking on an SDK that has it: it then watches the thread that
    // sends it heartbeats (the first one chooses the thread) and reports a hang when they stop.
    virtual bool tracksAppHangs() const { return false; }
    virtual void appHangHeartbeat() {}
};

}  // namespace vocalynx
