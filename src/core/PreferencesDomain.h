#pragma once
#include <QSettings>
#include <QString>
#include <QVariant>
#include <memory>
#include <mutex>

#include "platform/Logger.h"

namespace vocalynx {

// One preferences domain: a settings file under the config folder. Every write is saved at once;
// a file that cannot be written is reported once and the values stay usable in memory. A file with
// lines that cannot be read is reported once when it is opened: the readable settings are kept and
// the next save writes the file anew.
// Not locked: callers serialise access (ConfigStore holds its own lock).
class PreferencesDomain {
public:
    PreferencesDomain(const QString& filePath, Logger& log);
    ~PreferencesDomain();

    // The file for a domain name inside a config folder.
    static QString fileFor(const QString& configFolder, const QString& domain);

    QVariant value(const QString& key) const;
    bool contains(const QString& key) const;
    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);
    QString filePath() const { return path_; }
    bool usable() const;

private:
    void save();
    QString path_;
    Logger& log_;
    std::unique_ptr<QSettings> settings_;
    bool reportedFailure_ = false;
    bool readDamaged_ = false;  // the file had unreadable lines and has not been saved since
};

// The standard domain: first-run and version flags.
class StandardDefaults {
public:
    StandardDefaults(const QString& configFolder, Logger& log);

    bool onboardingComplete() const;
    void setOnboardingComplete(bool value);
    QString lastSeenWhatsNew() const;  // null string when never stored
    void setLastSeenWhatsNew(const QString& version);

    static inline const QString kOnboardingComplete = QStringLiteral("onboardingComplete");
    static inline const QString kLastSeenWhatsNew = QStringLiteral("lastSeenWhatsNew");
    static inline const QString kDomainName = QStringLiteral("standard");

private:
    mutable std::mutex mutex_;
    PreferencesDomain domain_;
};

}  // namespace vocalynx
