#pragma once
#include <functional>
#include <memory>

#include "platform/Logger.h"
#include "platform/Updater.h"

namespace vocalynx {

// The application's side of the update framework: it owns the controller made at launch, starts
// the launch check, passes on the user's check, and logs each of the framework's callbacks.
class UpdaterHookup final : public UpdaterDelegate {
public:
    using ControllerFactory = std::function<std::unique_ptr<UpdaterController>(UpdaterDelegate& delegate)>;

    explicit UpdaterHookup(Logger& log) : log_(log) {}

    // Makes the controller with this object as its delegate and keeps it.
    void createController(const ControllerFactory& make);
    UpdaterController* controller() const { return controller_.get(); }

    // Right after the controller is made: logs the updater's settings and, with automatic checks
    // on, asks for a background check. Without a controller or an updater nothing happens.
    void startUpdater();
    // The user asked for a check: the controller's check, if there is a controller.
    void manualCheckForUpdates();

    void didFindValidUpdate(const UpdateItem& item) override;
    void didNotFindUpdate(const QString& errorDescription) override;
    void didDownloadUpdate(const UpdateItem& item) override;
    void failedToDownloadUpdate(const UpdateItem& item, const QString& errorDescription) override;
    bool willInstallUpdateOnQuit(const UpdateItem& item) override;
    void didAbortWithError(const QString& errorDescription) override;
    void didFinishUpdateCycle(int updateCheck, const std::optional<QString>& errorDescription) override;

private:
    Logger& log_;
    std::unique_ptr<UpdaterController> controller_;
};

}  // namespace vocalynx
