#include "platform/sentry/SentryNativeSDK.h"

#include <sentry.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace vocalynx {

namespace {

// Runs on every event before it is sent: no user, and no "environment" or "process" in the
// extra data. The same event goes on; none is dropped.
sentry_value_t filterEvent(sentry_value_t event, void* /*hint*/, void* /*closure*/) {
    sentry_value_remove_by_key(event, "user");
    sentry_value_t extra = sentry_value_get_by_key(event, "extra");  // borrowed
    if (!sentry_value_is_null(extra)) {
        sentry_value_remove_by_key(extra, "environment");
        sentry_value_remove_by_key(extra, "process");
    }
    return event;
}

sentry_value_t toValue(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Int:
        return sentry_value_new_int32(value.toInt());
    case QMetaType::ULongLong:
        return sentry_value_new_uint64(value.toULongLong());
    case QMetaType::Double:
        return sentry_value_new_double(value.toDouble());
    default:
        return sentry_value_new_string(value.toString().toUtf8().constData());
    }
}

void closeAtExit() { sentry_close(); }

}  // namespace

SentryNativeSDK::SentryNativeSDK(QString databaseFolder) : databaseFolder_(std::move(databaseFolder)) {}

bool SentryNativeSDK::start(const Options& o) {
    sentry_options_t* options = sentry_options_new();
    sentry_options_set_dsn(options, o.dsn.toUtf8().constData());
    sentry_options_set_environment(options, o.environment.toUtf8().constData());
    sentry_options_set_release(options, o.releaseName.toUtf8().constData());
    sentry_options_set_auto_session_tracking(options, o.enableAutoSessionTracking ? 1 : 0);
    // The SDK's own default is a folder in the working directory; keep its files with ours.
    sentry_options_set_database_path(options, databaseFolder_.toUtf8().constData());
    sentry_options_set_before_send(options, filterEvent, nullptr);
#ifdef VOCALYNX_SENTRY_APP_HANGS
    sentry_options_set_enable_app_hang_tracking(options, o.enableAppHangTracking ? 1 : 0);
    sentry_options_set_app_hang_timeout(options, static_cast<uint64_t>(std::llround(o.appHangTimeout * 1000.0)));
#endif
    if (sentry_init(options) != 0) return false;  // the SDK owns the options either way
#ifdef VOCALYNX_SENTRY_APP_HANGS
    tracksAppHangs_ = o.enableAppHangTracking;
#endif
    // Ends the session as a clean exit and sends what is queued when the program returns normally.
    static std::once_flag atExit;
    std::call_once(atExit, [] { std::atexit(closeAtExit); });
    return true;
}

void SentryNativeSDK::appHangHeartbeat() {
#ifdef VOCALYNX_SENTRY_APP_HANGS
    if (tracksAppHangs_) sentry_app_hang_heartbeat();
#endif
}

void SentryNativeSDK::setTag(const QString& key, const QString& value) {
    sentry_set_tag(key.toUtf8().constData(), value.toUtf8().constData());
}

void SentryNativeSDK::setContext(const QString& key, const QVariantMap& value) {
    sentry_value_t object = sentry_value_new_object();
    for (auto it = value.begin(); it != value.end(); ++it)
        sentry_value_set_by_key(object, it.key().toUtf8().constData(), toValue(it.value()));
    sentry_set_context(key.toUtf8().constData(), object);
}

void SentryNativeSDK::addBreadcrumb(const QString& level, const QString& category) {
    sentry_value_t crumb = sentry_value_new_breadcrumb(nullptr, nullptr);
    sentry_value_set_by_key(crumb, "level", sentry_value_new_string(level.toUtf8().constData()));
    sentry_value_set_by_key(crumb, "category", sentry_value_new_string(category.toUtf8().constData()));
    sentry_add_breadcrumb(crumb);
}

}  // namespace vocalynx
