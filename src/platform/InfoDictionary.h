#pragma once
#include <QMap>
#include <QString>

namespace vocalynx {

// The application's information dictionary: version, build number and crash-reporting keys,
// fixed when the program is built.
class InfoDictionary {
public:
    InfoDictionary() = default;
    explicit InfoDictionary(QMap<QString, QString> values) : values_(std::move(values)) {}

    // The values of this build; keys whose build value is empty are absent.
    static InfoDictionary fromBuild();

    bool contains(const QString& key) const { return values_.contains(key); }
    // The value, or a null string when absent.
    QString string(const QString& key) const { return values_.value(key); }

    static inline const QString kBundleIdentifier = QStringLiteral("CFBundleIdentifier");
    static inline const QString kShortVersion = QStringLiteral("CFBundleShortVersionString");
    static inline const QString kBuildNumber = QStringLiteral("CFBundleVersion");
    static inline const QString kSentryDSN = QStringLiteral("SentryDSN");
    static inline const QString kSentryEnvironment = QStringLiteral("SentryEnvironment");

private:
    QMap<QString, QString> values_;
};

}  // namespace vocalynx
