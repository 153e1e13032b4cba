#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "FakeFileDownloader.h"
#include "FakeKeyEventInjection.h"
#include "FakeWorkspace.h"
#include "LiveRuntime.h"
#include "WidgetProbe.h"
#include "TestRuntime.h"
#include "windows/AlertDialog.h"
#include "windows/FormWidgets.h"
#include "windows/OnboardingView.h"
#include "windows/SettingsStyle.h"
#include "windows/WhatsNewView.h"
#include "windows/WindowManager.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

struct WindowsFixture {
    WindowsFixture() {
        guiApplication();
        windows.setSettingsContentFactory([this] {
            ++settingsContentsMade;
            return new QWidget;
        });
        windows.setModelManagerFactory(
            [this] { return std::make_unique<ModelManager>(modelsDirectory(rt.paths()), downloads); });
    }
    void drainEvents() {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    TestRuntime rt;
    StandardDefaults standard{rt.paths().config, rt.log};
    FakeKeyEventInjection keys;
    FakeUrlOpener urls;
    FakeAlertPresenter alerts;
    FakeFileDownloader downloads;
    WindowManager windows{{rt.runtime(), standard, keys, urls, alerts}};
    int settingsContentsMade = 0;
};

}  // namespace

TEST(SettingsWindow, OpeningWhileVisibleOnlyBringsItForwardAndClosingMakesTheNextOneFresh) {
    WindowsFixture f;
    EXPECT_EQ(f.windows.activationPolicy(), ActivationPolicy::accessory);
    f.windows.showSettingsWindow();
    QPointer<QWidget> first = f.windows.settingsWindow();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->size(), QSize(600, 420));
    EXPECT_EQ(f.windows.activationPolicy(), ActivationPolicy::regular);

    f.windows.showSettingsWindow();
    EXPECT_EQ(f.windows.settingsWindow(), first.data());
    EXPECT_EQ(f.settingsContentsMade, 1);

    first->close();
    EXPECT_EQ(f.windows.activationPolicy(), ActivationPolicy::accessory);
    EXPECT_EQ(f.windows.settingsWindow(), first.data()) << "the closed window stays until replaced";

    f.windows.showSettingsWindow();
    EXPECT_NE(f.windows.settingsWindow(), first.data());
    EXPECT_TRUE(f.windows.settingsWindow()->isVisible());
    EXPECT_EQ(f.settingsContentsMade, 2);
    EXPECT_EQ(f.windows.activationPolicy(), ActivationPolicy::regular);
    f.drainEvents();
    EXPECT_FALSE(first) << "the hidden earlier window is let go";
}

TEST(SettingsWindow, ClosingAnOldWindowDoesNotTouchThePolicyOfTheCurrentOne) {
    WindowsFixture f;
    f.windows.showSettingsWindow();
    QWidget* first = f.windows.settingsWindow();
    first->close();
    f.windows.showSettingsWindow();
    f.windows.settingsWindowWillClose(first);
    EXPECT_EQ(f.windows.activationPolicy(), ActivationPolicy::regular);
}

TEST(PermissionAlert, AppearsOnlyWhenUntrustedAndItsFirstButtonOpensTheHelpPage) {
    struct Case {
        bool trusted;
        int answer;
        size_t alerts;
        int opened;
    };
    const Case cases[] = {{true, 0, 0, 0}, {false, 0, 1, 1}, {false, 1, 1, 0}, {false, -1, 1, 0}};
    for (const Case& c : cases) {
        WindowsFixture f;
        f.keys.trusted = c.trusted;
        f.alerts.answers = {c.answer};
        f.windows.checkAccessibilityPermission();
        ASSERT_EQ(f.alerts.shown.size(), c.alerts) << "trusted " << c.trusted;
        EXPECT_EQ(f.urls.opened.size(), c.opened) << "answer " << c.answer;
        if (c.alerts) {
            const AlertRequest& alert = f.alerts.shown.front();
            // It names what is missing here, and no settings that do not exist.
            EXPECT_EQ(alert.message, QStringLiteral("无法向其他应用输入文字"));
            EXPECT_TRUE(alert.informativeText.contains(QStringLiteral("XTEST")));
            EXPECT_FALSE(alert.informativeText.contains(QStringLiteral("系统设置")));
            EXPECT_FALSE(alert.informativeText.contains(QStringLiteral("辅助功能")));
            EXPECT_EQ(alert.buttons, (QStringList{QStringLiteral("查看说明"), QStringLiteral("稍后")}));
        }
        if (c.opened) {
            const QUrl url = f.urls.opened.front();
            ASSERT_TRUE(url.isLocalFile());
            QFile page(url.toLocalFile());
            ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << url.toString().toStdString();
            EXPECT_TRUE(QString::fromUtf8(page.readAll()).contains(QStringLiteral("XTEST")));
        }
    }
}

TEST(ModelAlert, FirstButtonOpensSettingsAndTheOtherDoesNothing) {
    for (int answer : {0, 1}) {
        WindowsFixture f;
        f.alerts.answers = {answer};
        f.windows.showModelUnavailableAlert();
        ASSERT_EQ(f.alerts.shown.size(), 1u);
        EXPECT_EQ(f.alerts.shown[0].message, QStringLiteral("语音模型不可用"));
        EXPECT_EQ(f.alerts.shown[0].informativeText, QStringLiteral("语音模型未下载或已损坏，无法进行语音识别。请在设置中重新下载模型。"));
        EXPECT_EQ(f.alerts.shown[0].buttons, (QStringList{QStringLiteral("打开设置"), QStringLiteral("稍后")}));
        EXPECT_EQ(f.windows.settingsWindow() != nullptr, answer == 0);
    }
}

// Presses while an alert waits for its answer do not stack the same alert on top of it; once it
// is answered, the next report opens it again.
TEST(ModelAlert, IsNotOpenedAgainOnTopOfItself) {
    WindowsFixture f;
    const SpeechProgramTrouble missing{SpeechProgramTrouble::Kind::notFound, {}, {QStringLiteral("PATH")}};
    f.alerts.whileOpen = [&](const AlertRequest& open) {
        for (int press = 0; press < 3; ++press) f.windows.showModelUnavailableAlert();
        if (open.message == QStringLiteral("语音模型不可用")) {
            f.windows.showSpeechProgramAlert(missing);  // another alert may open meanwhile
        } else {
            for (int press = 0; press < 3; ++press) f.windows.showSpeechProgramAlert(missing);
        }
    };
    f.windows.showModelUnavailableAlert();
    ASSERT_EQ(f.alerts.shown.size(), 2u);
    EXPECT_EQ(f.alerts.shown[0].message, QStringLiteral("语音模型不可用"));
    EXPECT_EQ(f.alerts.shown[1].message, QStringLiteral("找不到语音识别程序"));
    f.alerts.whileOpen = nullptr;
    f.windows.showModelUnavailableAlert();
    EXPECT_EQ(f.alerts.shown.size(), 3u);
}

// The speech program's alert names the program, where it was looked for (home as "~") or which
// program exits, and opens the settings with its first button.
TEST(SpeechProgramAlert, SaysWhatIsMissingAndWhere) {
    WindowsFixture f;
    const QString home = f.rt.paths().home;
    f.alerts.answers = {0, 1};
    f.windows.showSpeechProgramAlert(
        {SpeechProgramTrouble::Kind::notFound, {}, {QStringLiteral("/usr/local/bin/coli"), home + QStringLiteral("/.local/bin/coli"), QStringLiteral("PATH")}});
    f.windows.showSpeechProgramAlert({SpeechProgramTrouble::Kind::exitsAtOnce, home + QStringLiteral("/.local/bin/coli"), {}});
    ASSERT_EQ(f.alerts.shown.size(), 2u);
    const AlertRequest& missing = f.alerts.shown[0];
    EXPECT_EQ(missing.message, QStringLiteral("找不到语音识别程序"));
    EXPECT_EQ(missing.informativeText,
              QStringLiteral("Vocalynx 需要语音识别程序 coli 才能识别语音，但在这些位置都没有找到它：/usr/local/bin/coli、"
                             "~/.local/bin/coli、PATH 中的目录。安装 coli 后再次开始听写即可，无需重启 Vocalynx。"));
    EXPECT_EQ(missing.buttons, (QStringList{QStringLiteral("打开设置"), QStringLiteral("稍后")}));
    EXPECT_TRUE(f.windows.settingsWindow());
    const AlertRequest& exits = f.alerts.shown[1];
    EXPECT_EQ(exits.message, QStringLiteral("语音识别程序无法运行"));
    EXPECT_TRUE(exits.informativeText.contains(QStringLiteral("coli（~/.local/bin/coli）每次启动后都立即退出")));

    for (size_t n = 0; n < 2; ++n) {
        AlertDialog dialog(f.alerts.shown[n]);
        dialog.show();
        QCoreApplication::processEvents();
        saveArtifact(dialog, QString::fromUtf8(n == 0 ? "alert-speech-program-missing" : "alert-speech-program-exits"));
        const QRect textBox(dialog.informativeLabel()->mapTo(&dialog, QPoint()), dialog.informativeLabel()->size());
        EXPECT_LE(textBox.bottom(), dialog.height()) << "the whole explanation shows";
    }
}

// An alert that opens while the onboarding window is up opens beside it, leaving its heading in
// view: below the window, else above it, else at the bottom of the screen.
TEST(AlertPlacement, BesideTheOnboardingWindow) {
    WindowsFixture f;
    f.keys.trusted = false;
    f.windows.showOnboardingWindow();
    f.windows.checkAccessibilityPermission();
    ASSERT_EQ(f.alerts.shown.size(), 1u);
    EXPECT_EQ(f.alerts.shown[0].besideWindow, f.windows.onboardingWindow()->frameGeometry());

    const QSize alert(440, 170);
    const QRect screen(0, 0, 1920, 1080);
    struct Case {
        QRect window;
        QPoint at;
    };
    const Case cases[] = {
        {QRect(720, 360, 480, 360), QPoint(740, 736)},  // below
        {QRect(720, 700, 480, 360), QPoint(740, 514)},  // above
        {QRect(720, 100, 480, 900), QPoint(740, 910)},  // neither: the screen's bottom edge
    };
    for (const Case& c : cases) {
        const QPoint at = AlertDialog::placeBeside(alert, c.window, screen);
        EXPECT_EQ(at, c.at) << c.window.y();
        const QRect heading(c.window.x(), c.window.y(), c.window.width(), 80);
        EXPECT_FALSE(QRect(at, alert).intersects(heading));
    }
}

TEST(WhatsNewSchedule, ShowsOnceAVersionIsNewAndOnboardingIsDone) {
    struct Case {
        const char* name;
        const char* version;  // nullptr: no version in the bundle
        const char* lastSeen;  // nullptr: never stored
        bool onboardingComplete;
        bool shows;
    };
    const Case cases[] = {
        {"new version", "1.0.0", "0.9.0", true, true},
        {"never seen", "1.0.0", nullptr, true, true},
        {"already seen", "1.0.0", "1.0.0", true, false},
        {"onboarding pending", "1.0.0", nullptr, false, false},
        {"no version", nullptr, nullptr, true, false},
        {"empty version", "", nullptr, true, false},
    };
    for (const Case& c : cases) {
        QMap<QString, QString> info;
        if (c.version) info.insert(InfoDictionary::kShortVersion, QString::fromUtf8(c.version));
        guiApplication();
        TestRuntime rt{InfoDictionary(info)};
        StandardDefaults standard{rt.paths().config, rt.log};
        FakeKeyEventInjection keys;
        FakeUrlOpener urls;
        FakeAlertPresenter alerts;
        WindowManager windows{{rt.runtime(), standard, keys, urls, alerts}};
        if (c.lastSeen) standard.setLastSeenWhatsNew(QString::fromUtf8(c.lastSeen));
        standard.setOnboardingComplete(c.onboardingComplete);

        windows.showWhatsNewIfNeeded();
        rt.time.advance(1.49);
        EXPECT_EQ(windows.whatsNewWindow(), nullptr) << c.name;
        rt.time.advance(0.01);
        EXPECT_EQ(windows.whatsNewWindow() != nullptr, c.shows) << c.name;
        if (!c.shows) {
            EXPECT_EQ(standard.lastSeenWhatsNew(), c.lastSeen ? QString::fromUtf8(c.lastSeen) : QString()) << c.name;
        }
    }
}

TEST(WhatsNewWindow, EveryWayOfClosingStoresTheVersionAndLetsTheWindowGo) {
    enum class Close { button, closeBox };
    for (Close how : {Close::button, Close::closeBox}) {
        WindowsFixture f;
        f.windows.showWhatsNewWindow(QStringLiteral("2.3.4"));
        QPointer<QWidget> window = f.windows.whatsNewWindow();
        ASSERT_TRUE(window);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->size(), QSize(420, 390));
        EXPECT_TRUE(f.windows.hasWhatsNewCloseObserver());
        EXPECT_TRUE(f.standard.lastSeenWhatsNew().isNull());

        if (how == Close::button)
            findButton(window, QStringLiteral("好的"))->click();
        else
            window->close();
        EXPECT_EQ(f.standard.lastSeenWhatsNew(), QStringLiteral("2.3.4"));
        EXPECT_FALSE(window->isVisible());
        EXPECT_FALSE(f.windows.hasWhatsNewCloseObserver());
        // The window is let go from the main queue, after the close has finished.
        EXPECT_EQ(f.windows.whatsNewWindow(), window.data());
        f.rt.time.runUntilIdle();
        EXPECT_EQ(f.windows.whatsNewWindow(), nullptr);
        f.drainEvents();
        EXPECT_FALSE(window);
    }
}

TEST(WhatsNewWindow, ANewWindowDropsTheObserverOfTheEarlierOne) {
    WindowsFixture f;
    f.windows.showWhatsNewWindow(QStringLiteral("1.0.0"));
    QPointer<QWidget> first = f.windows.whatsNewWindow();
    f.windows.showWhatsNewWindow(QStringLiteral("1.0.1"));
    QWidget* second = f.windows.whatsNewWindow();
    ASSERT_NE(first.data(), second);
    first->close();
    f.rt.time.runUntilIdle();
    EXPECT_TRUE(f.standard.lastSeenWhatsNew().isNull()) << "only the current window's close counts";
    EXPECT_EQ(f.windows.whatsNewWindow(), second);
    second->close();
    f.rt.time.runUntilIdle();
    EXPECT_EQ(f.standard.lastSeenWhatsNew(), QStringLiteral("1.0.1"));
    EXPECT_EQ(f.windows.whatsNewWindow(), nullptr);
    delete first.data();
}

TEST(OnboardingWindow, HostsTheGuideAndClosesWhenItIsFinished) {
    WindowsFixture f;
    f.windows.showOnboardingWindow();
    QWidget* window = f.windows.onboardingWindow();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->size(), QSize(480, 360));
    auto* view = window->findChild<OnboardingView*>();
    ASSERT_TRUE(view);
    for (const char* text : {"开始设置", "已授权，继续", "第三方输入法（用快捷键触发）", "继续", "完成"}) {
        f.drainEvents();
        QAbstractButton* button = findButton(view, QString::fromUtf8(text));
        ASSERT_TRUE(button) << text;
        button->click();
    }
    EXPECT_TRUE(f.standard.onboardingComplete());
    EXPECT_FALSE(window->isVisible());
}

TEST(ScreenshotBackdrop, CoversTheChosenScreenWithoutTakingInput) {
    WindowsFixture f;
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_TRUE(screen);
    int asked = 0;
    f.windows.setScreenshotBackdropScreen([&asked]() -> std::optional<QRect> {
        ++asked;
        return std::nullopt;  // the overlay found no screen: the primary one is used
    });
    f.windows.showScreenshotBackdrop();
    QWidget* backdrop = f.windows.screenshotBackdropWindow();
    ASSERT_TRUE(backdrop);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(backdrop->isVisible());
    EXPECT_EQ(backdrop->geometry(), screen->geometry());
    const Qt::WindowFlags flags = backdrop->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    const QImage picture = backdrop->grab().toImage();
    EXPECT_EQ(picture.pixelColor(picture.width() / 2, picture.height() / 2), QColor(Qt::black));
    EXPECT_EQ(f.windows.activationPolicy(), ActivationPolicy::accessory);
}

// The two alerts as the user sees them: a desktop alert's layout (a wide box, the message bold on
// one line, the explanation below it on a few lines, the buttons right-aligned with the default
// one rightmost and filled), and each button's answer. Pictures: build/artifacts/alert-*.png.
TEST(AlertLayout, BothAlertsLookLikeDesktopAlertsAndAnswerWithTheirButtons) {
    WindowsFixture f;
    f.keys.trusted = false;
    f.alerts.answers = {1, 1};
    f.windows.checkAccessibilityPermission();
    f.windows.showModelUnavailableAlert();
    ASSERT_EQ(f.alerts.shown.size(), 2u);
    const char* const names[] = {"alert-input-permission", "alert-model-unavailable"};
    for (size_t n = 0; n < 2; ++n) {
        SCOPED_TRACE(names[n]);
        const AlertRequest& request = f.alerts.shown[n];
        AlertDialog dialog(request);
        dialog.show();
        QCoreApplication::processEvents();
        const QImage picture = saveArtifact(dialog, QString::fromUtf8(names[n]));
        EXPECT_FALSE(picture.isNull());

        EXPECT_GE(dialog.width(), 400);
        QLabel* message = dialog.messageLabel();
        QLabel* text = dialog.informativeLabel();
        EXPECT_EQ(message->text(), request.message);
        EXPECT_EQ(text->text(), request.informativeText);
        EXPECT_TRUE(message->font().bold());
        const int messageLine = QFontMetrics(message->font()).height();
        EXPECT_LT(message->height(), 2 * messageLine) << "the message fits on one line";
        const int textLines = text->height() / QFontMetrics(text->font()).height();
        EXPECT_GE(textLines, 1);
        EXPECT_LE(textLines, 3) << "the explanation is not wrapped every few characters";
        const QRect messageBox(message->mapTo(&dialog, QPoint()), message->size());
        const QRect textBox(text->mapTo(&dialog, QPoint()), text->size());
        EXPECT_GE(textBox.top(), messageBox.bottom()) << "the explanation is below the message";
        EXPECT_EQ(textBox.left(), messageBox.left());

        ASSERT_EQ(dialog.buttons().size(), size_t(request.buttons.size()));
        QRect rightmost;
        for (size_t i = 0; i < dialog.buttons().size(); ++i) {
            QPushButton* button = dialog.buttons()[i];
            EXPECT_EQ(button->text(), request.buttons[int(i)]);
            EXPECT_EQ(button->isDefault(), i == 0);
            const QRect box(button->mapTo(&dialog, QPoint()), button->size());
            EXPECT_GT(box.top(), textBox.bottom()) << "buttons sit below the texts";
            EXPECT_GE(box.width(), button->fontMetrics().horizontalAdvance(button->text()));
            if (i == 0) rightmost = box;
            else
                EXPECT_LT(box.right(), rightmost.left()) << "the default button is the rightmost";
        }
        EXPECT_LE(dialog.width() - 1 - rightmost.right(), 24) << "buttons are right-aligned";
        // The default button is filled with the accent colour.
        EXPECT_EQ(picture.pixelColor(2 * (rightmost.left() + 3), 2 * rightmost.center().y()).rgb(), ui::accent().rgb());
    }

    // Each button answers with its index; Escape dismisses without an answer.
    for (int pressed : {0, 1, -1}) {
        AlertDialog dialog(f.alerts.shown[0]);
        dialog.show();
        if (pressed >= 0) {
            dialog.buttons()[size_t(pressed)]->click();
        } else {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(&dialog, &escape);
        }
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.answer(), pressed);
    }
}

// Every window fills its prominent buttons with the same accent colour.
TEST(AccentColour, ProminentButtonsOfEveryWindowShareOneAccent) {
    WindowsFixture f;
    f.windows.showOnboardingWindow();
    f.windows.showWhatsNewWindow(QStringLiteral("1.0.0"));
    AlertDialog alert(
        {QStringLiteral("message"), QStringLiteral("text"), {QStringLiteral("OK"), QStringLiteral("Cancel")}, std::nullopt});
    PushButton settingsButton(QStringLiteral("下载"), true);
    settingsButton.resize(settingsButton.sizeHint());
    const std::pair<const char*, QAbstractButton*> buttons[] = {
        {"onboarding", findButton(f.windows.onboardingWindow(), QStringLiteral("开始设置"))},
        {"what's new", findButton(f.windows.whatsNewWindow(), QStringLiteral("好的"))},
        {"settings", &settingsButton},
        {"alert", alert.buttons().front()},
    };
    for (const auto& [where, button] : buttons) {
        ASSERT_TRUE(button) << where;
        button->ensurePolished();
        QImage image(button->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        button->render(&image);
        // Left of the text, halfway down: the fill.
        EXPECT_EQ(image.pixelColor(4, button->height() / 2).rgb(), ui::accent().rgb()) << where;
    }
}
