#pragma once
#include "platform/Workspace.h"

namespace vocalynx {

// Addresses go to xdg-open through QDesktopServices.
class QtUrlOpener final : public UrlOpener {
public:
    bool openUrl(const QUrl& url) override;
};

}  // namespace vocalynx
