#pragma once
#include <QUrl>

#include "platform/Paths.h"

namespace vocalynx {

// Linux has no permission page for posting key events: what decides it is an X session with the
// XTEST extension. This writes a short page that explains it (into the application-support
// folder, refreshed each time) and returns its address, for the permission alert and the
// onboarding's settings button to open.
QUrl inputPermissionsHelpAddress(const Paths& paths);

}  // namespace vocalynx
