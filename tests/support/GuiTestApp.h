#pragma once
// Widget tests need one QApplication for the whole test program; this makes it on first use.
// Unit tests run with QT_QPA_PLATFORM=offscreen.

#include <QApplication>

namespace vocalynx::test {

inline QApplication& guiTestApp() {
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) return *existing;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "vocalynx-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

}  // namespace vocalynx::test
