#pragma once
#include "platform/Alerts.h"
#include "platform/Logger.h"
#include "platform/Workspace.h"

namespace vocalynx {

// Addresses go to xdg-open through QDesktopServices.
class QtUrlOpener final : public UrlOpener {
public:
    bool openUrl(const QUrl& url) override;
};

// Alerts as modal warning message boxes. Without a screen to show them on (the offscreen
// platform) nobody could answer, so the alert is written to the log instead and counts as
// dismissed.
class QtAlertPresenter final : public AlertPresenter {
public:
    explicit QtAlertPresenter(Logger& log) : log_(log) {}
    int runModal(const AlertRequest& request) override;

private:
    Logger& log_;
};

}  // namespace vocalynx
