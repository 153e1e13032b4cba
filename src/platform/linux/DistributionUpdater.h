#pragma once
#include "platform/Updater.h"

namespace vocalynx {

// On Linux the distribution's packages update the program: this controller has an updater with
// no feed and no automatic checks, and a check asked for does nothing.
class DistributionUpdater final : public UpdaterController, public Updater {
public:
    Updater* updater() override { return this; }
    void checkForUpdates() override {}

    std::optional<QString> feedURL() const override { return std::nullopt; }
    bool automaticallyChecksForUpdates() const override { return false; }
    bool automaticallyDownloadsUpdates() const override { return false; }
    void checkForUpdatesInBackground() override {}
};

}  // namespace vocalynx
