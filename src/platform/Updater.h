#pragma once
#include <QString>
#include <memory>
#include <optional>

namespace vocalynx {

// One update the update framework offers.
struct UpdateItem {
    QString versionString;
    QString displayVersionString;
};

// What the update framework reports back while it works; each call comes on the main thread.
class UpdaterDelegate {
public:
    virtual ~UpdaterDelegate() = default;
    virtual void didFindValidUpdate(const UpdateItem& item) = 0;
    virtual void didNotFindUpdate(const QString& errorDescription) = 0;
    virtual void didDownloadUpdate(const UpdateItem& item) = 0;
    virtual void failedToDownloadUpdate(const UpdateItem& item, const QString& errorDescription) = 0;
    // True when the delegate installs the update itself; false lets it install when the program quits.
    virtual bool willInstallUpdateOnQuit(const UpdateItem& item) = 0;
    virtual void didAbortWithError(const QString& errorDescription) = 0;
    // updateCheck: the framework's kind of check as a number; errorDescription only after a failure.
    virtual void didFinishUpdateCycle(int updateCheck, const std::optional<QString>& errorDescription) = 0;
};

// The framework's updater: its settings and the background check.
class Updater {
public:
    virtual ~Updater() = default;
    virtual std::optional<QString> feedURL() const = 0;  // absolute address, or nothing
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual bool automaticallyDownloadsUpdates() const = 0;
    virtual void checkForUpdatesInBackground() = 0;
};

// The framework's standard controller, already started when made.
class UpdaterController {
public:
    virtual ~UpdaterController() = default;
    // Null when the framework has no updater.
    virtual Updater* updater() = 0;
    // A check the user asked for; the framework's own interface takes over.
    virtual void checkForUpdates() = 0;
};

}  // namespace vocalynx
