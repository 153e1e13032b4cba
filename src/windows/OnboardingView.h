#pragma once
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "core/ConfigStore.h"
#include "core/PreferencesDomain.h"
#include "engine/ModelManager.h"
#include "platform/Runtime.h"
#include "platform/Workspace.h"

class QButtonGroup;
class QComboBox;
class QProgressBar;
class QVBoxLayout;

namespace vocalynx {

enum class OnboardingStep { welcome = 0, accessibility = 1, inputMode = 2, modelDownload = 3, gestureConfig = 4 };

// The step for a raw value; none outside 0...4.
std::optional<OnboardingStep> onboardingStepFromRawValue(int rawValue);

// Step 1: the welcome.
class WelcomeStep : public QWidget {
    Q_OBJECT
public:
    explicit WelcomeStep(std::function<void()> onNext, QWidget* parent = nullptr);
};

// Step 2: where to grant the input permission. Opening the place does not move on.
class AccessibilityStep : public QWidget {
    Q_OBJECT
public:
    AccessibilityStep(UrlOpener& urls, QUrl settingsAddress, std::function<void()> onNext, QWidget* parent = nullptr);
};

// Step 3: the built-in recogniser or an outside input method.
class InputModeStep : public QWidget {
    Q_OBJECT
public:
    InputModeStep(bool* useBuiltIn, std::function<void()> onNext, QWidget* parent = nullptr);

private:
    QButtonGroup* group_;
};

// Step 4: pick and download a voice model. Redraws its status group whenever the model manager
// publishes a change or another model is picked.
class ModelDownloadStep : public QWidget {
    Q_OBJECT
public:
    ModelDownloadStep(WhisperModel* selectedModel, ModelManager& modelManager, std::function<void()> onNext,
                      QWidget* parent = nullptr);

    // The model entry text, e.g. "Base (142 MB)".
    static QString entryText(WhisperModel model);

private:
    enum class Status { downloading, downloaded, notDownloaded };
    void refresh();
    Status currentStatus() const;

    WhisperModel* selectedModel_;
    ModelManager& modelManager_;
    std::function<void()> onNext_;
    QComboBox* picker_;
    QWidget* statusGroup_ = nullptr;
    QVBoxLayout* statusHolder_;
    std::optional<Status> shown_;
    QProgressBar* progress_ = nullptr;
    // The last download failed (not cancelled): said beside the download button until the next try.
    bool failed_ = false;
    bool cancelled_ = false;
};

// Step 5: what the headset presses do.
class GestureConfigStep : public QWidget {
    Q_OBJECT
public:
    GestureConfigStep(Runtime& runtime, std::function<void()> onDone, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    Runtime& runtime_;
    std::unique_ptr<ConfigStore> config_;
};

// The first-run guide: one step at a time, forward only. Finishing writes "onboardingComplete"
// and then calls onComplete.
class OnboardingView : public QWidget {
    Q_OBJECT

public:
    using ModelManagerFactory = std::function<std::unique_ptr<ModelManager>()>;
    struct Dependencies {
        Runtime& runtime;
        StandardDefaults& standardDefaults;
        UrlOpener& urls;
        QUrl accessibilitySettingsAddress;
        ModelManagerFactory makeModelManager;
    };

    OnboardingView(Dependencies dependencies, std::function<void()> onComplete, QWidget* parent = nullptr);
    ~OnboardingView() override;

    OnboardingStep step() const { return step_; }
    WhisperModel selectedModel() const { return selectedModel_; }
    bool useBuiltIn() const { return useBuiltIn_; }
    // The view's model manager, made on first show (or first need) and kept while the view lives.
    ModelManager& modelManager();
    QWidget* currentStepView() const { return stepView_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setStep(OnboardingStep step);
    void finish();
    QWidget* makeStepView(OnboardingStep step);

    Dependencies deps_;
    std::function<void()> onComplete_;
    OnboardingStep step_ = OnboardingStep::welcome;
    std::unique_ptr<ModelManager> modelManager_;
    WhisperModel selectedModel_ = WhisperModel::base;
    bool useBuiltIn_ = true;
    QVBoxLayout* stack_;
    QWidget* stepView_ = nullptr;
};

}  // namespace vocalynx
