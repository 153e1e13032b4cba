#pragma once
// A settings environment over fakes: virtual time, a private settings store in a temporary home,
// the sound player and hot keys recording what they were asked, and the addresses handed to the
// desktop collected in a list.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLayout>
#include <QWidget>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QUrl>
#include <gtest/gtest.h>

#include "FakeDictationControl.h"
#include "FakeGlobalHotKeys.h"
#include "FakeSoundOutput.h"
#include "LiveRuntime.h"
#include "TestRuntime.h"
#include "core/ConfigStore.h"
#include "core/HookInstaller.h"
#include "core/SoundFeedback.h"
#include "core/StopRecordingShortcutManager.h"
#include "platform/linux/X11KeyCodeReader.h"
#include "windows/SettingsEnvironment.h"

namespace vocalynx::test {

inline QApplication& settingsTestApp() {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return guiApplication();
}

// Renders the widget at scale 2 into build/artifacts/<build tree>/<name>.png for a person to look at.
// The window holding it is laid out first, so a control whose size hint just changed is drawn at
// its new size rather than the one of its last layout pass.
inline QImage renderArtifact(QWidget& widget, const QString& name) {
    widget.ensurePolished();
    if (QLayout* outer = widget.window()->layout()) outer->activate();
    if (widget.layout()) widget.layout()->activate();
    QImage image(widget.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    widget.render(&image);
    QDir().mkpath(QStringLiteral(VOCALYNX_ARTIFACTS_DIR));
    image.save(QStringLiteral(VOCALYNX_ARTIFACTS_DIR "/") + name + QStringLiteral(".png"));
    return image;
}

// Whether the vertical scroll bar draws arrow buttons at its ends.
inline bool hasArrowButtons(QScrollBar* bar) {
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = Qt::Vertical;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = option.sliderValue = bar->value();
    option.pageStep = bar->pageStep();
    option.subControls = QStyle::SC_All;
    for (QStyle::SubControl arrow : {QStyle::SC_ScrollBarAddLine, QStyle::SC_ScrollBarSubLine})
        if (!bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, arrow, bar).isEmpty()) return true;
    return false;
}

class SettingsFixture : public ::testing::Test {
protected:
    SettingsFixture() {
        settingsTestApp();
        // The bridge program the agent hooks run must exist for them to be installed.
        QDir().mkpath(QFileInfo(hooks.bridgePath).path());
        QFile bridge(hooks.bridgePath);
        bridge.open(QIODevice::WriteOnly);
        bridge.write("#!/bin/sh\n");
        bridge.close();
        bridge.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    TestRuntime rt;
    ConfigStore config{rt};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    FakeDictationControl engine;
    FakeGlobalHotKeys hotKeys;
    StopRecordingShortcutManager stopShortcut{config, engine, hotKeys, rt.runtime().main, rt.log};
    HookInstaller hooks{rt.paths().home, rt.log};
    X11KeyCodeReader keyCodes;  // no X connection: keys are read from the symbols they produced
    std::vector<QUrl> opened;
    SettingsEnvironment env = makeEnvironment();

private:
    SettingsEnvironment makeEnvironment() {
        SettingsEnvironment e{rt.runtime(), config};
        e.sounds = &sounds;
        e.stopRecordingShortcut = &stopShortcut;
        e.keyCodes = &keyCodes;
        e.hooks = &hooks;
        e.openUrl = [this](const QUrl& url) {
            opened.push_back(url);
            return true;
        };
        return e;
    }
};

}  // namespace vocalynx::test
