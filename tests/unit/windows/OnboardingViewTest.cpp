#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QProgressBar>
#include <QRadioButton>
#include <QSettings>

#include "FakeFileDownloader.h"
#include "FakeWorkspace.h"
#include "LiveRuntime.h"
#include "WidgetProbe.h"
#include "TestRuntime.h"
#include "windows/OnboardingView.h"
#include "windows/WhatsNewView.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

// A model manager whose downloads the test finishes by hand.
class FakeModelManager final : public ModelManager {
public:
    using ModelManager::ModelManager;
    void download(WhisperModel model, Completion completion) override {
        requested.push_back(model);
        pending = std::move(completion);
        setIsDownloading(true);
        setDownloadProgress(0);
    }
    void cancel() override {
        ++cancels;
        setIsDownloading(false);
    }
    void progress(double value) { setDownloadProgress(value); }
    void finish(bool success) {
        setIsDownloading(false);
        auto completion = std::move(pending);
        if (completion)
            completion(success ? Result<QString>::ok(QStringLiteral("stored"))
                               : Result<QString>::fail(QStringLiteral("failed")));
    }
    std::vector<WhisperModel> requested;
    Completion pending;
    int cancels = 0;
};

struct OnboardingFixture {
    explicit OnboardingFixture(bool withCompletion = true) {
        guiApplication();
        QDir().mkpath(modelsDir());
        std::function<void()> completion;
        if (withCompletion)
            completion = [this] {
                ++completions;
                flagAtCompletion = standard.onboardingComplete();
            };
        view = std::make_unique<OnboardingView>(
            OnboardingView::Dependencies{rt.runtime(), standard, urls, QUrl(QStringLiteral("file:///help/input.html")),
                                         [this] {
                                             auto made = std::make_unique<FakeModelManager>(modelsDir(), downloads);
                                             manager = made.get();
                                             return made;
                                         }},
            completion);
        view->show();
    }
    QString modelsDir() const { return rt.paths().appSupport + QStringLiteral("/models"); }
    void press(const QString& text) {
        settle();
        QAbstractButton* button = findButton(view.get(), text);
        ASSERT_TRUE(button) << text.toStdString() << " in "
                            << visibleTexts(view->currentStepView()).join(QStringLiteral(" | ")).toStdString();
        button->click();
        settle();
    }
    bool shows(const QString& text) { return findButton(view.get(), text) != nullptr; }
    // The tests name the buttons by their literal labels.
    void press(const char* text) { press(QString::fromUtf8(text)); }
    bool shows(const char* text) { return shows(QString::fromUtf8(text)); }
    void settle() {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void goToDownloadStep() {
        press("开始设置");
        press("已授权，继续");
        press("继续");
        ASSERT_EQ(view->step(), OnboardingStep::modelDownload);
    }
    QComboBox* picker() { return view->currentStepView()->findChild<QComboBox*>(); }

    TestRuntime rt;
    StandardDefaults standard{rt.paths().config, rt.log};
    FakeUrlOpener urls;
    FakeFileDownloader downloads;  // never used: the fake manager downloads nothing
    FakeModelManager* manager = nullptr;
    std::unique_ptr<OnboardingView> view;
    int completions = 0;
    bool flagAtCompletion = false;
};

}  // namespace

TEST(OnboardingStep, RawValuesOutsideTheFiveStepsGiveNoStep) {
    for (int raw = -1; raw <= 5; ++raw) {
        const auto step = onboardingStepFromRawValue(raw);
        ASSERT_EQ(step.has_value(), raw >= 0 && raw <= 4) << raw;
        if (step) { EXPECT_EQ(int(*step), raw); }
    }
}

TEST(Onboarding, StepsMoveForwardAndTheInputChoiceDecidesTheDownloadStep) {
    struct Case {
        const char* name;
        QStringList presses;
        std::vector<OnboardingStep> after;  // the step after each press
    };
    using S = OnboardingStep;
    const Case cases[] = {
        {"built-in recogniser",
         {QStringLiteral("开始设置"), QStringLiteral("已授权，继续"), QStringLiteral("继续"), QStringLiteral("跳过，稍后下载")},
         {S::accessibility, S::inputMode, S::modelDownload, S::gestureConfig}},
        {"outside input method",
         {QStringLiteral("开始设置"), QStringLiteral("已授权，继续"), QStringLiteral("第三方输入法（用快捷键触发）"), QStringLiteral("继续")},
         {S::accessibility, S::inputMode, S::inputMode, S::gestureConfig}},
        {"changing the mind back to built-in",
         {QStringLiteral("开始设置"), QStringLiteral("已授权，继续"), QStringLiteral("第三方输入法（用快捷键触发）"),
          QStringLiteral("内置 Whisper（离线，无需第三方）"), QStringLiteral("继续")},
         {S::accessibility, S::inputMode, S::inputMode, S::inputMode, S::modelDownload}},
    };
    for (const Case& c : cases) {
        OnboardingFixture f;
        EXPECT_EQ(f.view->step(), S::welcome);
        for (int i = 0; i < c.presses.size(); ++i) {
            f.press(c.presses[i]);
            EXPECT_EQ(f.view->step(), c.after[static_cast<size_t>(i)]) << c.name << ", press " << i;
        }
        EXPECT_FALSE(f.standard.onboardingComplete()) << c.name;
    }
}

TEST(Onboarding, TheInputChoiceIsStoredNowhere) {
    OnboardingFixture f;
    f.press("开始设置");
    f.press("已授权，继续");
    f.press("第三方输入法（用快捷键触发）");
    f.press("继续");
    f.press("完成");
    EXPECT_FALSE(f.view->useBuiltIn());
    // The application's settings domain stays empty; the standard domain holds only the flag.
    ConfigStore config(f.rt.runtime());
    EXPECT_TRUE(QSettings(config.filePath(), QSettings::IniFormat).allKeys().isEmpty());
    const QString standardFile = PreferencesDomain::fileFor(f.rt.paths().config, StandardDefaults::kDomainName);
    EXPECT_EQ(QSettings(standardFile, QSettings::IniFormat).allKeys(),
              QStringList{QStringLiteral("onboardingComplete")});
}

TEST(Onboarding, TheSettingsButtonOpensTheHelpAndStaysAndGrantedMovesOnRegardless) {
    OnboardingFixture f;
    f.press("开始设置");
    f.press("打开系统设置");
    EXPECT_EQ(f.urls.opened, (QList<QUrl>{QUrl(QStringLiteral("file:///help/input.html"))}));
    EXPECT_EQ(f.view->step(), OnboardingStep::accessibility);
    f.urls.succeeds = false;
    f.press("打开系统设置");
    EXPECT_EQ(f.view->step(), OnboardingStep::accessibility);
    f.press("已授权，继续");
    EXPECT_EQ(f.view->step(), OnboardingStep::inputMode);
}

TEST(Onboarding, FinishingWritesTheFlagBeforeTheCompletionAndWithoutOne) {
    for (bool withCompletion : {true, false}) {
        OnboardingFixture f(withCompletion);
        f.press("开始设置");
        f.press("已授权，继续");
        f.press("第三方输入法（用快捷键触发）");
        f.press("继续");
        f.press("完成");
        EXPECT_TRUE(f.standard.onboardingComplete());
        EXPECT_EQ(f.completions, withCompletion ? 1 : 0);
        if (withCompletion) { EXPECT_TRUE(f.flagAtCompletion); }
    }
}

TEST(OnboardingDownload, OffersTheFourModelsWithBaseSelected) {
    OnboardingFixture f;
    f.goToDownloadStep();
    QComboBox* picker = f.picker();
    ASSERT_TRUE(picker);
    QStringList entries;
    for (int i = 0; i < picker->count(); ++i) entries << picker->itemText(i);
    EXPECT_EQ(entries, (QStringList{QStringLiteral("Tiny (75 MB)"), QStringLiteral("Base (142 MB)"),
                                    QStringLiteral("Small (466 MB)"), QStringLiteral("Medium (1.5 GB)")}));
    EXPECT_EQ(picker->currentText(), QStringLiteral("Base (142 MB)"));
    EXPECT_TRUE(f.shows("下载"));
    EXPECT_TRUE(f.shows("跳过，稍后下载"));
    EXPECT_FALSE(f.shows("继续"));
}

TEST(OnboardingDownload, AnExistingFileShowsDownloadedUntilAnotherModelIsPicked) {
    OnboardingFixture f;
    QFile existing(f.modelsDir() + QStringLiteral("/ggml-small.bin"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    f.goToDownloadStep();
    EXPECT_TRUE(f.shows("下载"));
    f.picker()->setCurrentIndex(2);  // Small
    f.settle();
    EXPECT_EQ(f.view->selectedModel(), WhisperModel::small);
    EXPECT_TRUE(visibleTexts(f.view->currentStepView()).contains(QStringLiteral("已下载")));
    EXPECT_FALSE(f.shows("下载"));
    f.picker()->setCurrentIndex(0);  // Tiny
    f.settle();
    EXPECT_TRUE(f.shows("下载"));
    EXPECT_FALSE(visibleTexts(f.view->currentStepView()).contains(QStringLiteral("已下载")));
    f.picker()->setCurrentIndex(2);
    f.press("继续");
    EXPECT_EQ(f.view->step(), OnboardingStep::gestureConfig);
}

TEST(OnboardingDownload, ProgressCancelFailureAndSuccess) {
    OnboardingFixture f;
    f.goToDownloadStep();
    f.press("下载");
    ASSERT_EQ(f.manager->requested.size(), 1u);
    EXPECT_EQ(f.manager->requested[0], WhisperModel::base);
    auto* bar = f.view->currentStepView()->findChild<QProgressBar*>();
    ASSERT_TRUE(bar);
    EXPECT_TRUE(f.shows("取消"));
    EXPECT_FALSE(f.shows("下载"));
    f.manager->progress(0.25);
    EXPECT_EQ(double(bar->value()) / bar->maximum(), 0.25);

    // A failure (offline) stays on the step, says that it failed and offers the download again.
    auto failureShown = [&] {
        const QStringList texts = visibleTexts(f.view->currentStepView());
        return texts.contains(QStringLiteral("下载失败，请检查网络连接后重试"));
    };
    EXPECT_FALSE(failureShown());
    f.manager->finish(false);
    f.settle();
    EXPECT_EQ(f.view->step(), OnboardingStep::modelDownload);
    EXPECT_TRUE(f.shows("下载"));
    EXPECT_TRUE(failureShown());
    saveArtifact(*f.view, QStringLiteral("onboarding-4-model-download-failed"));

    // Cancel goes through the manager; the cancelled transfer's end is no failure to report.
    f.press("下载");
    EXPECT_FALSE(failureShown()) << "a new try clears the failure";
    f.press("取消");
    f.manager->finish(false);
    f.settle();
    EXPECT_EQ(f.manager->cancels, 1);
    EXPECT_TRUE(f.shows("下载"));
    EXPECT_FALSE(failureShown());

    // A success moves on without a further click.
    f.press("下载");
    f.manager->finish(true);
    f.settle();
    EXPECT_EQ(f.view->step(), OnboardingStep::gestureConfig);
}

TEST(OnboardingDownload, SkippingWhileDownloadingMovesOnWithoutCancelling) {
    OnboardingFixture f;
    f.goToDownloadStep();
    f.press("下载");
    f.press("跳过，稍后下载");
    EXPECT_EQ(f.view->step(), OnboardingStep::gestureConfig);
    EXPECT_EQ(f.manager->cancels, 0);
    EXPECT_TRUE(f.manager->isDownloading());
    // The download finishing later leaves the guide where the user is.
    f.manager->finish(true);
    f.settle();
    EXPECT_EQ(f.view->step(), OnboardingStep::gestureConfig);
    f.press("完成");
    EXPECT_EQ(f.completions, 1);
}

TEST(OnboardingDownload, ACompletionAfterTheGuideIsGoneIsHarmless) {
    OnboardingFixture f;
    f.goToDownloadStep();
    f.press("下载");
    // The manager lives as long as the view: keep the completion and call it after the view is gone.
    auto completion = f.manager->pending;
    f.view.reset();
    completion(Result<QString>::ok(QStringLiteral("stored")));
    SUCCEED();
}

// Pictures of every step and of the what's-new window, for a person to look at.
TEST(WindowPictures, EveryOnboardingStepAndWhatsNew) {
    guiApplication();
    ASSERT_FALSE(QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty())
        << "no font with Chinese glyphs is installed (fonts-noto-cjk)";
    OnboardingFixture f;
    const std::pair<const char*, const char*> steps[] = {
        {"onboarding-1-welcome", "开始设置"},
        {"onboarding-2-accessibility", "已授权，继续"},
        {"onboarding-3-input-mode", "继续"},
        {"onboarding-4-model-download", nullptr},
    };
    for (const auto& [name, next] : steps) {
        f.settle();
        const QImage image = saveArtifact(*f.view, QString::fromUtf8(name));
        EXPECT_EQ(image.size(), QSize(960, 720)) << name;
        if (next) f.press(QString::fromUtf8(next));
    }
    f.press("下载");
    f.manager->progress(0.4);
    saveArtifact(*f.view, QStringLiteral("onboarding-4-model-download-running"));
    f.manager->finish(true);
    f.settle();
    ASSERT_EQ(f.view->step(), OnboardingStep::gestureConfig);
    saveArtifact(*f.view, QStringLiteral("onboarding-5-gesture-config"));

    WhatsNewView whatsNew(QStringLiteral("1.0.0"), [] {});
    whatsNew.show();
    QCoreApplication::processEvents();
    const QImage image = saveArtifact(whatsNew, QStringLiteral("whats-new"));
    EXPECT_EQ(image.size(), QSize(840, 780));
}
