#include "core/UpdaterHookup.h"

namespace vocalynx {

namespace {
const QString kTag = QStringLiteral("[Vocalynx][Sparkle] ");
QString flag(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }
}  // namespace

void UpdaterHookup::createController(const ControllerFactory& make) {
    if (make) controller_ = make(*this);
}

void UpdaterHookup::startUpdater() {
    if (!controller_) return;
    Updater* updater = controller_->updater();
    if (!updater) return;
    const bool autoChecks = updater->automaticallyChecksForUpdates();
    log_.line(kTag + QStringLiteral("started feed=") + updater->feedURL().value_or(QStringLiteral("nil")) +
              QStringLiteral(" autoChecks=") + flag(autoChecks) + QStringLiteral(" autoDownloads=") +
              flag(updater->automaticallyDownloadsUpdates()));
    if (autoChecks) {
        updater->checkForUpdatesInBackground();
        log_.line(kTag + QStringLiteral("launch background check requested"));
    }
}

void UpdaterHookup::manualCheckForUpdates() {
    if (controller_) controller_->checkForUpdates();
}

void UpdaterHookup::didFindValidUpdate(const UpdateItem& item) {
    log_.line(kTag + QStringLiteral("found update version=") + item.versionString + QStringLiteral(" display=") +
              item.displayVersionString);
}

void UpdaterHookup::didNotFindUpdate(const QString& errorDescription) {
    log_.line(kTag + QStringLiteral("no update found: ") + errorDescription);
}

void UpdaterHookup::didDownloadUpdate(const UpdateItem& item) {
    log_.line(kTag + QStringLiteral("downloaded update version=") + item.versionString);
}

void UpdaterHookup::failedToDownloadUpdate(const UpdateItem& item, const QString& errorDescription) {
    log_.line(kTag + QStringLiteral("download failed version=") + item.versionString + QStringLiteral(": ") +
              errorDescription);
}

bool UpdaterHookup::willInstallUpdateOnQuit(const UpdateItem& item) {
    log_.line(kTag + QStringLiteral("scheduled install on quit version=") + item.versionString);
    return false;  // the update installs when the program quits
}

void UpdaterHookup::didAbortWithError(const QString& errorDescription) {
    log_.line(kTag + QStringLiteral("aborted: ") + errorDescription);
}

void UpdaterHookup::didFinishUpdateCycle(int updateCheck, const std::optional<QString>& errorDescription) {
    QString line = kTag + QStringLiteral("update cycle finished check=") + QString::number(updateCheck);
    if (errorDescription) line += QStringLiteral(" error=") + *errorDescription;
    log_.line(line);
}

}  // namespace vocalynx
