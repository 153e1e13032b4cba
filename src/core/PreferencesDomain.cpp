#include "core/PreferencesDomain.h"

#include <QDir>
#include <QFileInfo>

namespace vocalynx {

PreferencesDomain::PreferencesDomain(const QString& filePath, Logger& log) : path_(filePath), log_(log) {
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    settings_ = std::make_unique<QSettings>(filePath, QSettings::IniFormat);
    // Read now, so that a damaged file is reported once, at start, as what it is. QSettings keeps
    // every line it can read and leaves out the others; the next save writes the file anew from
    // what was kept.
    settings_->allKeys();
    if (settings_->status() == QSettings::FormatError) {
        readDamaged_ = true;
        log_.line(QStringLiteral("[Vocalynx] Settings file ") + path_ +
                  QStringLiteral(" has lines that could not be read; they were left out, the other settings "
                                 "are kept, and the file is written anew at the next change"));
    }
}

PreferencesDomain::~PreferencesDomain() = default;

QString PreferencesDomain::fileFor(const QString& configFolder, const QString& domain) {
    return configFolder + QLatin1Char('/') + domain + QStringLiteral(".conf");
}

bool PreferencesDomain::usable() const { return settings_->status() != QSettings::FormatError; }

QVariant PreferencesDomain::value(const QString& key) const { return settings_->value(key); }

bool PreferencesDomain::contains(const QString& key) const { return settings_->contains(key); }

void PreferencesDomain::setValue(const QString& key, const QVariant& value) {
    settings_->setValue(key, value);
    save();
}

void PreferencesDomain::remove(const QString& key) {
    settings_->remove(key);
    save();
}

void PreferencesDomain::save() {
    settings_->sync();
    bool saved = settings_->status() == QSettings::NoError;
    if (readDamaged_) {
        // QSettings keeps the read error as its status for good, even once the file has been
        // written anew: a fresh reading tells whether the save went through. From then on the
        // fresh object, with the same values, carries on.
        auto fresh = std::make_unique<QSettings>(path_, QSettings::IniFormat);
        fresh->allKeys();
        saved = fresh->status() == QSettings::NoError;
        if (saved) {
            settings_ = std::move(fresh);
            readDamaged_ = false;
        }
    }
    if (saved) return;
    if (reportedFailure_) return;
    reportedFailure_ = true;
    log_.line(QStringLiteral("[Vocalynx] Settings could not be saved to ") + path_ +
              QStringLiteral("; changes are kept for this run only"));
}

StandardDefaults::StandardDefaults(const QString& configFolder, Logger& log)
    : domain_(PreferencesDomain::fileFor(configFolder, kDomainName), log) {}

bool StandardDefaults::onboardingComplete() const {
    std::lock_guard lock(mutex_);
    return domain_.value(kOnboardingComplete).toBool();
}

void StandardDefaults::setOnboardingComplete(bool value) {
    std::lock_guard lock(mutex_);
    domain_.setValue(kOnboardingComplete, value);
}

QString StandardDefaults::lastSeenWhatsNew() const {
    std::lock_guard lock(mutex_);
    const QVariant v = domain_.value(kLastSeenWhatsNew);
    return v.isValid() ? v.toString() : QString();
}

void StandardDefaults::setLastSeenWhatsNew(const QString& version) {
    std::lock_guard lock(mutex_);
    domain_.setValue(kLastSeenWhatsNew, version);
}

}  // namespace vocalynx
