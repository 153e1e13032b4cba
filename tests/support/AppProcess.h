#pragma once
// Runs the built application as a child process with its own home and XDG folders, and waits for
// lines of its output with a deadline.

#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "ForkedProcess.h"

namespace vocalynx::test {

class AppProcess {
public:
    // Every copy started with the same home shares settings; by default each gets its own.
    explicit AppProcess(QString home = {});
    ~AppProcess();

    QProcessEnvironment& environment() { return env_; }
    // Marks the first-run guide as done in this home, so a launch opens no onboarding window.
    void finishOnboarding();
    void start(const QString& binary, const QStringList& arguments = {});
    // Waits until a line containing part has been printed; false at the deadline or at exit.
    bool waitForLine(const QString& part, int timeoutMs = 15000);
    bool waitForLine(const char* part, int timeoutMs = 15000) {
        return waitForLine(QString::fromUtf8(part), timeoutMs);
    }
    bool waitForExit(int timeoutMs = 15000);
    QString output() const { return output_; }
    ForkedProcess& process() { return *process_; }
    QString home() const { return home_; }

private:
    void readAvailable();
    std::unique_ptr<QTemporaryDir> dir_;
    QString home_;
    QProcessEnvironment env_;
    std::unique_ptr<ForkedProcess> process_;
    QString output_;
};

}  // namespace vocalynx::test
