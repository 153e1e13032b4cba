#pragma once
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "core/PreferencesDomain.h"
#include "engine/ColiCommand.h"
#include "engine/ModelManager.h"
#include "platform/Alerts.h"
#include "platform/KeyEventInjection.h"
#include "platform/Runtime.h"
#include "platform/WindowWorkspaces.h"
#include "platform/Workspace.h"

namespace vocalynx {

// A top-level window that hosts one view and tells its owner when it is about to close.
// Closing hides it; the object stays until its owner lets it go.
class HostWindow : public QWidget {
    Q_OBJECT
public:
    explicit HostWindow(Qt::WindowFlags flags = Qt::Window);
    // The hosted view (the window's only child); null after detachContent().
    QWidget* content() const { return content_; }
    void setContent(QWidget* content);
    // Deletes the hosted view, leaving an empty window.
    void detachContent();
    // Lets the user drag the window by any empty part of its background.
    void setMovableByBackground(bool movable) { movableByBackground_ = movable; }

signals:
    void willClose();

protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QPointer<QWidget> content_;
    bool movableByBackground_ = false;
};

// Whether the application shows itself in the taskbar. Linux has no Dock: "regular" is the time
// during which the settings window, a normal window with a taskbar entry, is open; the panel never
// has an entry either way.
enum class ActivationPolicy { accessory, regular };

// The application's own windows and the two alerts the user must act on. It owns the onboarding,
// settings, what's-new and screenshot-backdrop windows; other parts plug in the settings content,
// the backdrop's screen and content, and the model manager the onboarding uses.
class WindowManager : public QObject {
    Q_OBJECT

public:
    struct Dependencies {
        Runtime& runtime;
        StandardDefaults& standardDefaults;
        KeyEventInjection& keyInjection;  // its trust check decides the permission alert
        UrlOpener& urls;
        AlertPresenter& alerts;
    };
    using ContentFactory = std::function<QWidget*()>;
    // The chosen screen's frame in window coordinates; none: no choice.
    using ScreenChooser = std::function<std::optional<QRect>()>;
    using ModelManagerFactory = std::function<std::unique_ptr<ModelManager>()>;

    explicit WindowManager(Dependencies dependencies, QObject* parent = nullptr);
    ~WindowManager() override;

    // The settings window's content, made anew for every new settings window (default: a
    // placeholder pane).
    void setSettingsContentFactory(ContentFactory factory);
    // The screen the overlay would choose (default: none, so the primary screen is used), the
    // backdrop's content (default: plain black), and what keeps it on every workspace (default:
    // nothing).
    void setScreenshotBackdropScreen(ScreenChooser chooser);
    void setScreenshotBackdropContentFactory(ContentFactory factory);
    void setScreenshotBackdropWorkspaces(WindowWorkspaces* workspaces);
    // Makes the onboarding's model manager; it must be set before the onboarding window opens.
    void setModelManagerFactory(ModelManagerFactory factory);

    // Opens the 480 x 360 onboarding window; it closes itself when the user finishes.
    void showOnboardingWindow();
    // Brings a visible settings window forward, or makes a new 600 x 420 one.
    void showSettingsWindow();
    // The settings window began to close: back to accessory.
    void settingsWindowWillClose(QWidget* window);
    // When key events may not be posted, tells the user with a modal alert.
    void checkAccessibilityPermission();
    // The voice model cannot be used; its first button opens the settings.
    void showModelUnavailableAlert();
    // The speech program is missing or cannot run: what is needed and where it was looked for; its
    // first button opens the settings.
    void showSpeechProgramAlert(const SpeechProgramTrouble& trouble);
    // Schedules the what's-new window 1.5 s from now when this version has not been seen and
    // onboarding is complete.
    void showWhatsNewIfNeeded();
    void showWhatsNewWindow(const QString& version);
    // Screenshot mode: a black window over the whole chosen screen, on every workspace, above
    // ordinary windows; the panel, shown after it, stays above it.
    void showScreenshotBackdrop();

    QWidget* onboardingWindow() const { return onboardingWindow_; }
    QWidget* settingsWindow() const { return settingsWindow_; }
    QWidget* whatsNewWindow() const { return whatsNewWindow_; }
    QWidget* screenshotBackdropWindow() const { return screenshotBackdropWindow_; }
    bool hasWhatsNewCloseObserver() const { return bool(whatsNewCloseObserver_); }
    ActivationPolicy activationPolicy() const { return activationPolicy_; }

    // Where the user learns how to let Vocalynx post key events (a help page of our own).
    static QUrl accessibilitySettingsAddress(const Paths& paths);

    // Key events are posted through the X server's XTEST extension: the alert says that it is
    // missing (or that there is no X server to post to) and what to check.
    static inline const QString kAccessibilityAlertMessage = QStringLiteral("无法向其他应用输入文字");
    static inline const QString kAccessibilityAlertText = QStringLiteral(
        "X 服务器没有提供 XTEST 扩展，Vocalynx 无法把语音转写的文字输入到其他应用中。"
        "请在启用了 XTEST 的 X11 会话中重新启动 Vocalynx。");
    static inline const QString kModelAlertMessage = QStringLiteral("语音模型不可用");
    static inline const QString kModelAlertText =
        QStringLiteral("语音模型未下载或已损坏，无法进行语音识别。请在设置中重新下载模型。");

private:
    void bringForward(QWidget* window);
    // Runs the alert unless the same alert is open already (then -1: it is not stacked on itself).
    int runAlertOnce(const QString& message, const QString& text, const QStringList& buttons);

    Dependencies deps_;
    ContentFactory settingsContent_;
    ScreenChooser backdropScreen_;
    ContentFactory backdropContent_;
    WindowWorkspaces* backdropWorkspaces_ = nullptr;
    ModelManagerFactory modelManagers_;

    QPointer<HostWindow> onboardingWindow_;
    QPointer<HostWindow> settingsWindow_;
    QPointer<HostWindow> screenshotBackdropWindow_;
    QPointer<HostWindow> whatsNewWindow_;
    QMetaObject::Connection whatsNewCloseObserver_;
    ActivationPolicy activationPolicy_ = ActivationPolicy::accessory;
    QStringList openAlerts_;  // the messages of the alerts open now
};

}  // namespace vocalynx
