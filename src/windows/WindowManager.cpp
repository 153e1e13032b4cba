#include "windows/WindowManager.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "windows/InputPermissionsHelp.h"
#include "windows/ModelFiles.h"
#include "windows/OnboardingView.h"
#include "windows/ViewStyle.h"
#include "windows/WhatsNewView.h"

namespace vocalynx {

HostWindow::HostWindow(Qt::WindowFlags flags) : QWidget(nullptr, flags) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
}

void HostWindow::setContent(QWidget* content) {
    detachContent();
    content_ = content;
    if (content) layout()->addWidget(content);
}

void HostWindow::detachContent() {
    if (content_) {
        content_->hide();
        content_->deleteLater();
    }
    content_ = nullptr;
}

void HostWindow::closeEvent(QCloseEvent* event) {
    emit willClose();
    event->accept();
}

void HostWindow::mousePressEvent(QMouseEvent* event) {
    if (movableByBackground_ && event->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

namespace {

// Titled and closable, nothing else in the title bar.
constexpr Qt::WindowFlags kDialogFlags =
    Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

HostWindow* makeWindow(int width, int height) {
    auto* window = new HostWindow(kDialogFlags);
    window->setWindowTitle(QStringLiteral("Vocalynx"));
    window->setFixedSize(width, height);
    return window;
}

void centre(QWidget* window) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
}

QWidget* settingsPlaceholder() {
    auto* pane = new QWidget;
    auto* column = new QVBoxLayout(pane);
    auto* label = new QLabel(QStringLiteral("设置"));
    label->setFont(style::title2Font());
    label->setAlignment(Qt::AlignCenter);
    column->addWidget(label);
    return pane;
}

QWidget* blackBackdrop() {
    auto* view = new QWidget;
    view->setAutoFillBackground(true);
    QPalette p = view->palette();
    p.setColor(QPalette::Window, Qt::black);
    view->setPalette(p);
    return view;
}

}  // namespace

WindowManager::WindowManager(Dependencies dependencies, QObject* parent)
    : QObject(parent), deps_(dependencies), settingsContent_(settingsPlaceholder), backdropContent_(blackBackdrop) {}

WindowManager::~WindowManager() {
    if (whatsNewCloseObserver_) disconnect(whatsNewCloseObserver_);
    for (QWidget* window : {static_cast<QWidget*>(onboardingWindow_), static_cast<QWidget*>(settingsWindow_),
                            static_cast<QWidget*>(screenshotBackdropWindow_), static_cast<QWidget*>(whatsNewWindow_)})
        delete window;
}

void WindowManager::setSettingsContentFactory(ContentFactory factory) { settingsContent_ = std::move(factory); }
void WindowManager::setScreenshotBackdropScreen(ScreenChooser chooser) { backdropScreen_ = std::move(chooser); }
void WindowManager::setScreenshotBackdropContentFactory(ContentFactory factory) {
    backdropContent_ = std::move(factory);
}
void WindowManager::setScreenshotBackdropWorkspaces(WindowWorkspaces* workspaces) {
    backdropWorkspaces_ = workspaces;
}
void WindowManager::setModelManagerFactory(ModelManagerFactory factory) { modelManagers_ = std::move(factory); }

QUrl WindowManager::accessibilitySettingsAddress(const Paths& paths) { return inputPermissionsHelpAddress(paths); }

void WindowManager::bringForward(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

void WindowManager::showOnboardingWindow() {
    HostWindow* window = makeWindow(480, 360);
    centre(window);
    QPointer<HostWindow> guard(window);
    auto* view = new OnboardingView(
        {deps_.runtime, deps_.standardDefaults, deps_.urls, accessibilitySettingsAddress(deps_.runtime.paths),
         modelManagers_},
        [guard] {
            if (guard) guard->close();
        });
    window->setContent(view);
    bringForward(window);
    onboardingWindow_ = window;
}

void WindowManager::showSettingsWindow() {
    if (settingsWindow_ && settingsWindow_->isVisible()) {
        bringForward(settingsWindow_);
        return;
    }
    HostWindow* window = makeWindow(600, 420);
    connect(window, &HostWindow::willClose, this, [this, window] { settingsWindowWillClose(window); });
    window->setContent(settingsContent_ ? settingsContent_() : settingsPlaceholder());
    centre(window);
    activationPolicy_ = ActivationPolicy::regular;
    bringForward(window);
    // A hidden earlier window is replaced, not reused.
    if (settingsWindow_) settingsWindow_->deleteLater();
    settingsWindow_ = window;
}

void WindowManager::settingsWindowWillClose(QWidget* window) {
    if (window && window == settingsWindow_) activationPolicy_ = ActivationPolicy::accessory;
}

void WindowManager::checkAccessibilityPermission() {
    if (deps_.keyInjection.canInjectKeys()) return;
    const int answer =
        runAlertOnce(kAccessibilityAlertMessage, kAccessibilityAlertText, {QStringLiteral("查看说明"), QStringLiteral("稍后")});
    if (answer == 0) deps_.urls.openUrl(accessibilitySettingsAddress(deps_.runtime.paths));
}

int WindowManager::runAlertOnce(const QString& message, const QString& text, const QStringList& buttons) {
    if (openAlerts_.contains(message)) return -1;
    openAlerts_.append(message);
    AlertRequest request;
    request.message = message;
    request.informativeText = text;
    request.buttons = buttons;
    // The onboarding window's heading stays in view: an alert opens beside the window.
    if (onboardingWindow_ && onboardingWindow_->isVisible()) request.besideWindow = onboardingWindow_->frameGeometry();
    QPointer<WindowManager> self(this);
    const int answer = deps_.alerts.runModal(request);
    if (self) openAlerts_.removeOne(message);
    return answer;
}

void WindowManager::showModelUnavailableAlert() {
    const int answer =
        runAlertOnce(kModelAlertMessage, kModelAlertText, {QStringLiteral("打开设置"), QStringLiteral("稍后")});
    if (answer == 0) showSettingsWindow();
}

void WindowManager::showSpeechProgramAlert(const SpeechProgramTrouble& trouble) {
    const int answer = runAlertOnce(speechProgramTroubleTitle(trouble),
                                    speechProgramTroubleText(trouble, deps_.runtime.paths.home),
                                    {QStringLiteral("打开设置"), QStringLiteral("稍后")});
    if (answer == 0) showSettingsWindow();
}

void WindowManager::showWhatsNewIfNeeded() {
    const QString version = deps_.runtime.info.string(InfoDictionary::kShortVersion);
    const QString lastSeen = deps_.standardDefaults.lastSeenWhatsNew();
    if (version.isEmpty() || version == lastSeen) return;
    // Before onboarding is done nothing is stored, so the window shows on the first launch after it.
    if (!deps_.standardDefaults.onboardingComplete()) return;
    QPointer<WindowManager> self(this);
    deps_.runtime.main.postAfter(Duration(1.5), [self, version] {
        if (self) self->showWhatsNewWindow(version);
    });
}

void WindowManager::showWhatsNewWindow(const QString& version) {
    if (whatsNewCloseObserver_) {
        disconnect(whatsNewCloseObserver_);
        whatsNewCloseObserver_ = {};
    }
    HostWindow* window = makeWindow(420, 390);
    window->setMovableByBackground(true);
    centre(window);
    StandardDefaults& defaults = deps_.standardDefaults;
    QPointer<HostWindow> guard(window);
    window->setContent(new WhatsNewView(version, [&defaults, version, guard] {
        defaults.setLastSeenWhatsNew(version);
        if (guard) guard->close();
    }));
    // However the window closes (button or close box), the version counts as seen.
    QPointer<WindowManager> self(this);
    whatsNewCloseObserver_ = connect(window, &HostWindow::willClose, this, [self, guard, version] {
        if (!self) return;
        self->deps_.standardDefaults.setLastSeenWhatsNew(version);
        disconnect(self->whatsNewCloseObserver_);
        self->whatsNewCloseObserver_ = {};
        self->deps_.runtime.main.post([self, guard] {
            if (!self || !guard || self->whatsNewWindow_ != guard) return;
            guard->detachContent();
            self->whatsNewWindow_ = nullptr;
            guard->deleteLater();
        });
    });
    bringForward(window);
    whatsNewWindow_ = window;
}

void WindowManager::showScreenshotBackdrop() {
    std::optional<QRect> frame = backdropScreen_ ? backdropScreen_() : std::nullopt;
    if (!frame) {
        QScreen* primary = QGuiApplication::primaryScreen();
        if (!primary) return;
        frame = primary->geometry();
    }
    // Above ordinary windows and below the panel, over the whole screen, never taking input.
    auto* window = new HostWindow(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                  Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setAutoFillBackground(true);
    QPalette p = window->palette();
    p.setColor(QPalette::Window, Qt::black);
    window->setPalette(p);
    window->setGeometry(*frame);
    window->setContent(backdropContent_ ? backdropContent_() : blackBackdrop());
    window->setGeometry(*frame);
    // On every workspace, asked before and after mapping so that the window manager sees it either way.
    if (backdropWorkspaces_) backdropWorkspaces_->showOnAllWorkspaces(window->winId());
    window->show();
    window->raise();
    if (backdropWorkspaces_) backdropWorkspaces_->showOnAllWorkspaces(window->winId());
    if (screenshotBackdropWindow_) screenshotBackdropWindow_->deleteLater();
    screenshotBackdropWindow_ = window;
}

}  // namespace vocalynx
