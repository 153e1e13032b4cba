#pragma once
#include <QUrl>

namespace vocalynx {

// Hands an address to the desktop (a web page, a folder, a settings page) so the program the user
// has chosen for it opens it.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // False when no program took the address.
    virtual bool openUrl(const QUrl& url) = 0;
};

}  // namespace vocalynx
