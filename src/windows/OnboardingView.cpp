#include "windows/OnboardingView.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QtMath>

#include "windows/SettingsStyle.h"
#include "windows/SymbolImage.h"
#include "windows/ViewStyle.h"

namespace vocalynx {

std::optional<OnboardingStep> onboardingStepFromRawValue(int rawValue) {
    if (rawValue < 0 || rawValue > 4) return std::nullopt;
    return static_cast<OnboardingStep>(rawValue);
}

namespace {

// A step's column: items centred horizontally, 16 apart, the whole column centred vertically.
class StepColumn : public QVBoxLayout {
public:
    explicit StepColumn(QWidget* step) : QVBoxLayout(step) {
        setContentsMargins(0, 0, 0, 0);
        setSpacing(16);
        addStretch(1);
        addStretch(1);
    }
    // Inserts above the bottom stretch.
    void addItemWidget(QWidget* widget, Qt::Alignment alignment) { insertWidget(count() - 1, widget, 0, alignment); }
};

StepColumn* stepColumn(QWidget* step) { return new StepColumn(step); }

// A symbol at a point size, in a frame just large enough for it.
QWidget* symbolLabel(const QString& name, int size, const QColor& color) {
    const int side = qCeil(size * 1.2);
    return new SymbolView(name, size, color, QSize(side, side));
}

QLabel* titleLabel(const QString& text, const QFont& font) {
    auto* label = new QLabel(text);
    QFont bold = font;
    bold.setWeight(QFont::Bold);
    bold.setFamilies(style::systemFont(font.pixelSize()).families());
    label->setFont(bold);
    label->setAlignment(Qt::AlignHCenter);
    return label;
}

// Texts take the column's width (so they wrap only where they must); controls keep their size.
void addCentred(StepColumn* column, QWidget* widget) {
    if (qobject_cast<QLabel*>(widget))
        column->addItemWidget(widget, {});
    else
        column->addItemWidget(widget, Qt::AlignHCenter);
}

const QColor kGreen(52, 199, 89);

}  // namespace

WelcomeStep::WelcomeStep(std::function<void()> onNext, QWidget* parent) : QWidget(parent) {
    auto* column = stepColumn(this);
    addCentred(column, symbolLabel(QStringLiteral("airpodspro"), 48, palette().color(QPalette::WindowText)));
    addCentred(column, titleLabel(QStringLiteral("欢迎使用 Vocalynx"), style::titleFont()));
    addCentred(column, style::secondaryLabel(QStringLiteral("把 AirPods 变成语音输入遥控器")));
    auto* start = style::prominentButton(QStringLiteral("开始设置"));
    connect(start, &QPushButton::clicked, this, [onNext] { onNext(); });
    addCentred(column, start);
}

AccessibilityStep::AccessibilityStep(UrlOpener& urls, QUrl settingsAddress, std::function<void()> onNext,
                                     QWidget* parent)
    : QWidget(parent) {
    auto* column = stepColumn(this);
    addCentred(column, symbolLabel(QStringLiteral("accessibility"), 48, palette().color(QPalette::WindowText)));
    addCentred(column, titleLabel(QStringLiteral("需要辅助功能权限"), style::title2Font()));
    addCentred(column, style::secondaryLabel(QStringLiteral("Vocalynx 需要此权限才能将文字注入其他 App")));
    auto* open = style::defaultButton(QStringLiteral("打开系统设置"));
    connect(open, &QPushButton::clicked, this, [&urls, settingsAddress] {
        // An address that cannot be formed opens nothing; the step stays either way.
        if (settingsAddress.isValid()) urls.openUrl(settingsAddress);
    });
    addCentred(column, open);
    auto* granted = style::prominentButton(QStringLiteral("已授权，继续"));
    connect(granted, &QPushButton::clicked, this, [onNext] { onNext(); });
    addCentred(column, granted);
}

InputModeStep::InputModeStep(bool* useBuiltIn, std::function<void()> onNext, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)) {
    auto* column = stepColumn(this);
    addCentred(column, titleLabel(QStringLiteral("选择输入法模式"), style::title2Font()));
    auto* options = new QWidget;
    auto* optionColumn = new QVBoxLayout(options);
    optionColumn->setContentsMargins(0, 0, 0, 0);
    optionColumn->setSpacing(6);
    auto* builtIn = new QRadioButton(QStringLiteral("内置 Whisper（离线，无需第三方）"));
    auto* external = new QRadioButton(QStringLiteral("第三方输入法（用快捷键触发）"));
    for (auto* radio : {builtIn, external}) {
        radio->setFont(style::systemFont(13));
        optionColumn->addWidget(radio);
    }
    group_->addButton(builtIn, 1);
    group_->addButton(external, 0);
    (*useBuiltIn ? builtIn : external)->setChecked(true);
    connect(group_, &QButtonGroup::idToggled, this, [useBuiltIn](int id, bool checked) {
        if (checked) *useBuiltIn = id == 1;
    });
    addCentred(column, options);
    auto* next = style::prominentButton(QStringLiteral("继续"));
    connect(next, &QPushButton::clicked, this, [onNext] { onNext(); });
    addCentred(column, next);
}

QString ModelDownloadStep::entryText(WhisperModel model) {
    QString name = model.rawValue();
    name.remove(QStringLiteral("ggml-"));
    if (!name.isEmpty()) name[0] = name[0].toUpper();
    QString size;
    switch (model.value()) {
        case WhisperModel::tiny: size = QStringLiteral("75 MB"); break;
        case WhisperModel::base: size = QStringLiteral("142 MB"); break;
        case WhisperModel::small: size = QStringLiteral("466 MB"); break;
        case WhisperModel::medium: size = QStringLiteral("1.5 GB"); break;
    }
    return name + QStringLiteral(" (") + size + QLatin1Char(')');
}

ModelDownloadStep::ModelDownloadStep(WhisperModel* selectedModel, ModelManager& modelManager,
                                     std::function<void()> onNext, QWidget* parent)
    : QWidget(parent), selectedModel_(selectedModel), modelManager_(modelManager), onNext_(std::move(onNext)) {
    auto* column = stepColumn(this);
    addCentred(column, titleLabel(QStringLiteral("下载语音模型"), style::title2Font()));

    auto* pickerRow = new QWidget;
    auto* row = new QHBoxLayout(pickerRow);
    row->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(QStringLiteral("模型"));
    label->setFont(style::systemFont(13));
    picker_ = new QComboBox;
    picker_->setFont(style::systemFont(13));
    for (WhisperModel model : WhisperModel::allCases()) {
        picker_->addItem(entryText(model), model.rawValue());
        if (model == *selectedModel_) picker_->setCurrentIndex(picker_->count() - 1);
    }
    label->setBuddy(picker_);
    row->addWidget(label);
    row->addWidget(picker_);
    connect(picker_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (auto model = WhisperModel::fromRawValue(picker_->itemData(index).toString())) *selectedModel_ = *model;
        refresh();
    });
    addCentred(column, pickerRow);

    auto* holder = new QWidget;
    statusHolder_ = new QVBoxLayout(holder);
    statusHolder_->setContentsMargins(0, 0, 0, 0);
    addCentred(column, holder);

    auto* skip = style::defaultButton(QStringLiteral("跳过，稍后下载"));
    QPalette p = skip->palette();
    p.setColor(QPalette::ButtonText, style::secondaryColor(skip));
    skip->setPalette(p);
    connect(skip, &QPushButton::clicked, this, [next = onNext_] { next(); });
    addCentred(column, skip);

    connect(&modelManager_, &ModelManager::isDownloadingChanged, this, &ModelDownloadStep::refresh);
    connect(&modelManager_, &ModelManager::downloadProgressChanged, this, &ModelDownloadStep::refresh);
    refresh();
}

ModelDownloadStep::Status ModelDownloadStep::currentStatus() const {
    if (modelManager_.isDownloading()) return Status::downloading;
    if (QFileInfo::exists(modelManager_.fileURL(*selectedModel_))) return Status::downloaded;
    return Status::notDownloaded;
}

void ModelDownloadStep::refresh() {
    const Status status = currentStatus();
    if (shown_ == status) {
        if (progress_) progress_->setValue(qRound(modelManager_.downloadProgress() * 1000));
        return;
    }
    // The old group may hold the button whose click led here: let it go once the click is over.
    if (statusGroup_) {
        statusGroup_->hide();
        statusGroup_->deleteLater();
    }
    progress_ = nullptr;
    shown_ = status;
    statusGroup_ = new QWidget;
    auto* row = new QHBoxLayout(statusGroup_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    switch (status) {
        case Status::downloading: {
            progress_ = new QProgressBar;
            progress_->setRange(0, 1000);
            progress_->setTextVisible(false);
            progress_->setFixedWidth(240);
            progress_->setValue(qRound(modelManager_.downloadProgress() * 1000));
            row->addWidget(progress_);
            auto* cancel = style::defaultButton(QStringLiteral("取消"));
            connect(cancel, &QPushButton::clicked, this, [this] {
                cancelled_ = true;
                modelManager_.cancel();
            });
            row->addWidget(cancel);
            break;
        }
        case Status::downloaded: {
            auto* icon = symbolLabel(QStringLiteral("checkmark.circle.fill"), 13, kGreen);
            auto* text = new QLabel(QStringLiteral("已下载"));
            text->setFont(style::systemFont(13));
            QPalette p = text->palette();
            p.setColor(QPalette::WindowText, kGreen);
            text->setPalette(p);
            row->addWidget(icon);
            row->addWidget(text);
            auto* next = style::prominentButton(QStringLiteral("继续"));
            connect(next, &QPushButton::clicked, this, [next = onNext_] { next(); });
            row->addWidget(next);
            break;
        }
        case Status::notDownloaded: {
            if (failed_) {
                auto* text = new QLabel(QStringLiteral("下载失败，请检查网络连接后重试"));
                text->setObjectName(QStringLiteral("downloadFailed"));
                text->setFont(style::systemFont(13));
                QPalette p = text->palette();
                p.setColor(QPalette::WindowText, ui::red());
                text->setPalette(p);
                row->addWidget(text);
            }
            auto* download = style::prominentButton(QStringLiteral("下载"));
            connect(download, &QPushButton::clicked, this, [this] {
                failed_ = cancelled_ = false;
                QPointer<ModelDownloadStep> self(this);
                modelManager_.download(*selectedModel_, [self, next = onNext_](const Result<QString>& result) {
                    if (result.isOk()) {
                        next();
                        return;
                    }
                    if (!self || self->cancelled_) return;
                    self->failed_ = true;
                    self->shown_.reset();  // the button's group is drawn again, with the failure
                    self->refresh();
                });
            });
            row->addWidget(download);
            break;
        }
    }
    statusHolder_->addWidget(statusGroup_, 0, Qt::AlignHCenter);
}

GestureConfigStep::GestureConfigStep(Runtime& runtime, std::function<void()> onDone, QWidget* parent)
    : QWidget(parent), runtime_(runtime) {
    auto* column = stepColumn(this);
    addCentred(column, titleLabel(QStringLiteral("手势配置"), style::title2Font()));
    addCentred(column, style::secondaryLabel(QStringLiteral("单击：开始/停止录音（固定）")));
    addCentred(column, style::secondaryLabel(QStringLiteral("双击 / 三击可在设置中自定义")));
    auto* done = style::prominentButton(QStringLiteral("完成"));
    connect(done, &QPushButton::clicked, this, [onDone] { onDone(); });
    addCentred(column, done);
}

void GestureConfigStep::showEvent(QShowEvent* event) {
    // The step keeps a settings store of its own on the application's domain from its first
    // appearance; the summary itself does not read it.
    if (!config_) config_ = std::make_unique<ConfigStore>(runtime_, QStringLiteral("com.vocalynx.app"));
    QWidget::showEvent(event);
}

OnboardingView::OnboardingView(Dependencies dependencies, std::function<void()> onComplete, QWidget* parent)
    : QWidget(parent), deps_(std::move(dependencies)), onComplete_(std::move(onComplete)) {
    setFixedSize(480, 360);
    style::useAccentForSelection(this);
    stack_ = new QVBoxLayout(this);
    stack_->setContentsMargins(32, 32, 32, 32);
    stack_->setSpacing(24);
    setStep(OnboardingStep::welcome);
}

OnboardingView::~OnboardingView() = default;

ModelManager& OnboardingView::modelManager() {
    if (!modelManager_) modelManager_ = deps_.makeModelManager();
    return *modelManager_;
}

void OnboardingView::showEvent(QShowEvent* event) {
    modelManager();
    QWidget::showEvent(event);
}

void OnboardingView::setStep(OnboardingStep step) {
    if (stepView_ && step == step_) return;
    step_ = step;
    if (stepView_) {
        // The old step may be in the middle of its own button's click.
        stepView_->hide();
        stepView_->deleteLater();
    }
    stepView_ = makeStepView(step);
    stack_->addWidget(stepView_);
}

QWidget* OnboardingView::makeStepView(OnboardingStep step) {
    QPointer<OnboardingView> self(this);
    auto goTo = [self](OnboardingStep next) {
        return [self, next] {
            if (self) self->setStep(next);
        };
    };
    switch (step) {
        case OnboardingStep::welcome:
            return new WelcomeStep(goTo(OnboardingStep::accessibility));
        case OnboardingStep::accessibility:
            return new AccessibilityStep(deps_.urls, deps_.accessibilitySettingsAddress, goTo(OnboardingStep::inputMode));
        case OnboardingStep::inputMode:
            return new InputModeStep(&useBuiltIn_, [self] {
                if (!self) return;
                // 4 minus the choice counted as 1 or 0: the download step only for the built-in recogniser.
                self->setStep(*onboardingStepFromRawValue(4 - (self->useBuiltIn_ ? 1 : 0)));
            });
        case OnboardingStep::modelDownload:
            return new ModelDownloadStep(&selectedModel_, modelManager(), goTo(OnboardingStep::gestureConfig));
        case OnboardingStep::gestureConfig:
            return new GestureConfigStep(deps_.runtime, [self] {
                if (self) self->finish();
            });
    }
    return new QWidget;
}

void OnboardingView::finish() {
    deps_.standardDefaults.setOnboardingComplete(true);
    if (onComplete_) onComplete_();
}

}  // namespace vocalynx
