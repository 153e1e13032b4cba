#include "platform/Paths.h"

#include <QDir>

#include "BuildInfo.h"
#include "platform/PrivateFiles.h"

namespace vocalynx {

namespace {
QString xdg(const char* variable, const QString& home, const QString& fallback) {
    const QString value = qEnvironmentVariable(variable);
    // The XDG rules ignore relative paths.
    if (!value.isEmpty() && QDir::isAbsolutePath(value)) return value;
    return home + QLatin1Char('/') + fallback;
}
}  // namespace

Paths Paths::fromEnvironment() {
    Paths p;
    p.home = QDir::homePath();
    p.config = xdg("XDG_CONFIG_HOME", p.home, QStringLiteral(".config")) + QStringLiteral("/vocalynx");
    p.appSupport = xdg("XDG_DATA_HOME", p.home, QStringLiteral(".local/share")) + QStringLiteral("/Vocalynx");
    p.logs = xdg("XDG_STATE_HOME", p.home, QStringLiteral(".local/state")) + QStringLiteral("/vocalynx/logs");
    p.temp = privateTemporaryFolder(qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath());
    const QString dataOverride = qEnvironmentVariable("VOCALYNX_DATA_DIR");
    p.resources = dataOverride.isEmpty() ? QStringLiteral(VOCALYNX_DATA_DIR) : dataOverride;
    return p;
}

Paths Paths::under(const QString& root) {
    Paths p;
    p.home = root + QStringLiteral("/home");
    p.config = p.home + QStringLiteral("/.config/vocalynx");
    p.appSupport = p.home + QStringLiteral("/.local/share/Vocalynx");
    p.logs = p.home + QStringLiteral("/.local/state/vocalynx/logs");
    p.temp = root + QStringLiteral("/tmp");
    p.resources = root + QStringLiteral("/resources");
    return p;
}

}  // namespace vocalynx
