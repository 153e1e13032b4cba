#include "platform/linux/QtWorkspace.h"

#include <QDesktopServices>

namespace vocalynx {

bool QtUrlOpener::openUrl(const QUrl& url) {
    if (!url.isValid()) return false;
    return QDesktopServices::openUrl(url);
}

}  // namespace vocalynx
