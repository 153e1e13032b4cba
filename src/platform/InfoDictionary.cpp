#include "platform/InfoDictionary.h"

#include "BuildInfo.h"

namespace vocalynx {

InfoDictionary InfoDictionary::fromBuild() {
    QMap<QString, QString> values;
    auto put = [&values](const QString& key, const char* value) {
        if (value && *value) values.insert(key, QString::fromUtf8(value));
    };
    put(kBundleIdentifier, VOCALYNX_BUNDLE_IDENTIFIER);
    put(kShortVersion, VOCALYNX_VERSION);
    put(kBuildNumber, VOCALYNX_BUILD_NUMBER);
    put(kSentryDSN, VOCALYNX_SENTRY_DSN);
    put(kSentryEnvironment, VOCALYNX_SENTRY_ENVIRONMENT);
    return InfoDictionary(values);
}

}  // namespace vocalynx
