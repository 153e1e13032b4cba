#include "AppProcess.h"

#include <QDeadlineTimer>
#include <QDir>

#include "RecordingLogger.h"
#include "core/PreferencesDomain.h"

namespace vocalynx::test {

AppProcess::AppProcess(QString home) : env_(QProcessEnvironment::systemEnvironment()) {
    if (home.isEmpty()) {
        dir_ = std::make_unique<QTemporaryDir>();
        home = dir_->path();
    }
    home_ = home;
    env_.insert(QStringLiteral("HOME"), home_);
    env_.insert(QStringLiteral("XDG_CONFIG_HOME"), home_ + QStringLiteral("/.config"));
    env_.insert(QStringLiteral("XDG_DATA_HOME"), home_ + QStringLiteral("/.local/share"));
    env_.insert(QStringLiteral("XDG_STATE_HOME"), home_ + QStringLiteral("/.local/state"));
    env_.remove(QStringLiteral("VOCALYNX_SCREENSHOT_MODE"));
    env_.remove(QStringLiteral("VOCALYNX_SCREENSHOT_OUTPUT_DIR"));
    process_ = std::make_unique<ForkedProcess>();
    process_->setProcessChannelMode(QProcess::MergedChannels);
}

AppProcess::~AppProcess() {
    if (process_->state() != QProcess::NotRunning) {
        process_->kill();
        process_->waitForFinished(5000);
    }
}

void AppProcess::start(const QString& binary, const QStringList& arguments) {
    process_->setProcessEnvironment(env_);
    process_->start(binary, arguments);
    process_->waitForStarted(10000);
}

void AppProcess::finishOnboarding() {
    RecordingLogger log;
    StandardDefaults(home_ + QStringLiteral("/.config/vocalynx"), log).setOnboardingComplete(true);
}

void AppProcess::readAvailable() { output_ += QString::fromUtf8(process_->readAll()); }

bool AppProcess::waitForLine(const QString& part, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        readAvailable();
        if (output_.contains(part)) return true;
        if (deadline.hasExpired()) return false;
        if (process_->state() == QProcess::NotRunning) {
            readAvailable();
            return output_.contains(part);
        }
        process_->waitForReadyRead(static_cast<int>(std::min<qint64>(200, deadline.remainingTime())));
    }
}

bool AppProcess::waitForExit(int timeoutMs) {
    const bool finished = process_->state() == QProcess::NotRunning || process_->waitForFinished(timeoutMs);
    readAvailable();
    return finished;
}

}  // namespace vocalynx::test
