#pragma once
// A whole runtime for one test: virtual time, recorded log lines, a private notification
// centre and every folder inside a fresh temporary directory.

#include <QTemporaryDir>

#include "RecordingLogger.h"
#include "VirtualTime.h"
#include "platform/Runtime.h"

namespace vocalynx::test {

class TestRuntime {
public:
    TestRuntime() : TestRuntime(InfoDictionary(defaultInfo())) {}
    explicit TestRuntime(InfoDictionary info)
        : info_(std::move(info)),
          paths_(Paths::under(dir_.path())),
          diagnostics_(log),
          runtime_{time, time.main(), time, notifications, log, diagnostics_, info_, paths_} {}

    static QMap<QString, QString> defaultInfo() {
        return {{InfoDictionary::kBundleIdentifier, QStringLiteral("com.vocalynx.app")},
                {InfoDictionary::kShortVersion, QStringLiteral("1.0.0")},
                {InfoDictionary::kBuildNumber, QStringLiteral("7")}};
    }

    Runtime& runtime() { return runtime_; }
    operator Runtime&() { return runtime_; }
    const Paths& paths() const { return paths_; }
    QString root() const { return dir_.path(); }

    VirtualTime time;
    NotificationCenter notifications;
    RecordingLogger log;

private:
    QTemporaryDir dir_;
    InfoDictionary info_;
    Paths paths_;
    Diagnostics diagnostics_;
    Runtime runtime_;
};

}  // namespace vocalynx::test
