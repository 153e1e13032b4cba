#include "windows/GeneralSettingsPane.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>
#include <QVBoxLayout>

#include "core/StopRecordingShortcutManager.h"
#include "overlay/NotchGeometry.h"
#include "windows/SettingsStyle.h"
#include "windows/ModelStatusRow.h"
#include "windows/ShortcutRecorderButton.h"
#include "windows/SymbolImage.h"

namespace vocalynx {

namespace {
const QString kAutomaticEntry = QStringLiteral("自动（当前显示器）");

QString screenName(const ScreenDescription& screen) {
    return screen.displayName.isEmpty() ? screen.localizedName : screen.displayName;
}
}  // namespace

std::vector<DisplayOption> makeDisplayOptions(const std::vector<ScreenDescription>& screens) {
    QHash<QString, int> counts;
    for (const ScreenDescription& screen : screens) ++counts[screenName(screen)];
    std::vector<DisplayOption> options;
    for (size_t i = 0; i < screens.size(); ++i) {
        const QString name = screenName(screens[i]);
        options.push_back({displayIdentifier(screens[i]),
                           counts.value(name) >= 2 ? name + QStringLiteral(" #") + QString::number(i + 1) : name});
    }
    return options;
}

PreferredDisplay pickerSelection(const PreferredDisplay& stored, const std::vector<DisplayOption>& options,
                                 const std::vector<ScreenDescription>& screens) {
    auto firstOfKind = [&](bool builtIn) {
        for (const DisplayOption& option : options)
            for (const ScreenDescription& screen : screens)
                if (displayIdentifier(screen) == option.id) {
                    if (isBuiltInDisplay(screen) == builtIn) return PreferredDisplay::screen(option.id);
                    break;
                }
        return PreferredDisplay::automatic();
    };
    switch (stored.kind) {
        case PreferredDisplay::Kind::automatic: return PreferredDisplay::automatic();
        case PreferredDisplay::Kind::builtin: return firstOfKind(true);
        case PreferredDisplay::Kind::external: return firstOfKind(false);
        case PreferredDisplay::Kind::screen:
            for (const DisplayOption& option : options)
                if (option.id == stored.screenID) return stored;
            return PreferredDisplay::automatic();
    }
    return PreferredDisplay::automatic();
}

GestureLabel::GestureLabel(const QString& icon, const QString& text, QWidget* parent) : QWidget(parent) {
    setObjectName(text);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    row->addWidget(new SymbolView(icon, 11, ui::secondary(), QSize(14, 14), 1.0, this), 0, Qt::AlignVCenter);
    row->addWidget(makeLabel(text, ui::systemFont(12), ui::primary(), this), 0, Qt::AlignVCenter);
}

GeneralSettingsPane::GeneralSettingsPane(SettingsEnvironment& environment, QWidget* parent)
    : GroupedForm(parent), env_(environment) {
    // Appearance and input: the display that carries the panel.
    FormSection* appearance = addSection(QStringLiteral("外观与输入"));
    auto* displayRow = new QHBoxLayout;
    displayRow->addWidget(makeLabel(QStringLiteral("显示器"), ui::bodyFont(), ui::primary()), 0, Qt::AlignVCenter);
    displayRow->addStretch(1);
    displayPicker_ = new QComboBox;
    displayPicker_->setObjectName(QStringLiteral("displayPicker"));
    displayPicker_->setFont(ui::bodyFont());
    displayPicker_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(displayPicker_, &QComboBox::activated, this, [this](int index) {
        const QString stored = displayPicker_->itemData(index).toString();
        setPreferredDisplay(index == 0 ? PreferredDisplay::automatic() : PreferredDisplay::screen(stored));
    });
    displayRow->addWidget(displayPicker_, 0, Qt::AlignVCenter);
    appearance->addRow(displayRow);
    if (env_.screens) displayOptions_ = makeDisplayOptions(env_.screens->screens());
    rebuildDisplayPicker();

    // Recording control: the stop shortcut, the stop phrase and a note.
    FormSection* recording = addSection(QStringLiteral("录音控制"));
    auto* shortcutRow = new QHBoxLayout;
    shortcutRow->addWidget(makeLabel(QStringLiteral("结束录音快捷键"), ui::bodyFont(), ui::primary()), 0, Qt::AlignVCenter);
    shortcutRow->addStretch(1);
    recorder_ = new ShortcutRecorderButton(
        &stopShortcut_, [this](const KeyboardShortcut& shortcut) { applyStopShortcut(shortcut); }, env_.keyCodes);
    shortcutRow->addWidget(recorder_, 0, Qt::AlignVCenter);
    // Under it, only while the shortcut does not work: why.
    auto* shortcutBlock = new QVBoxLayout;
    shortcutBlock->setSpacing(4);
    shortcutBlock->addLayout(shortcutRow);
    shortcutProblem_ = makeLabel(QString(), ui::footnoteFont(), ui::red());
    shortcutProblem_->setObjectName(QStringLiteral("shortcutProblem"));
    shortcutProblem_->setWordWrap(true);
    shortcutProblem_->hide();
    shortcutBlock->addWidget(shortcutProblem_);
    recording->addRow(shortcutBlock);

    auto* phraseRow = new QHBoxLayout;
    phraseRow->addWidget(makeLabel(QStringLiteral("语音结束口令"), ui::bodyFont(), ui::primary()), 0, Qt::AlignVCenter);
    phraseRow->addStretch(1);
    phraseField_ = new QLineEdit;
    phraseField_->setFixedWidth(140);
    phraseField_->setFont(ui::bodyFont());
    // The rounded-border field.
    const QColor accent = ui::accent();
    phraseField_->setStyleSheet(QStringLiteral(
        "QLineEdit { background: white; border: 1px solid rgba(0,0,0,0.18); border-radius: 5px;"
        " padding: 2px 5px; color: rgba(0,0,0,0.85); }"
        "QLineEdit:focus { border: 1px solid rgba(%1,%2,%3,0.7); }")
                                    .arg(accent.red())
                                    .arg(accent.green())
                                    .arg(accent.blue()));
    phraseField_->setText(ConfigStore::kDefaultVoicePhrase);
    // Every edit is stored at once; Return stores the current text again.
    connect(phraseField_, &QLineEdit::textEdited, this,
            [this](const QString& text) { env_.config.setStopRecordingVoicePhrase(text); });
    connect(phraseField_, &QLineEdit::returnPressed, this,
            [this] { env_.config.setStopRecordingVoicePhrase(phraseField_->text()); });
    phraseRow->addWidget(phraseField_, 0, Qt::AlignVCenter);
    recording->addRow(phraseRow);

    auto* note = makeLabel(QStringLiteral("可以使用键盘快捷键，或说出口令来结束一次录音。"), ui::footnoteFont(), ui::secondary());
    recording->addFootnote(note);

    // Headset gestures: a fixed legend, whatever the stored mappings are.
    FormSection* gestures = addSection(QStringLiteral("耳机手势"));
    auto* legend = new QHBoxLayout;
    legend->setSpacing(16);
    legend->addWidget(new GestureLabel(QStringLiteral("1.circle.fill"), QStringLiteral("开始录音")), 0, Qt::AlignVCenter);
    legend->addWidget(new GestureLabel(QStringLiteral("2.circle.fill"), QStringLiteral("Enter")), 0, Qt::AlignVCenter);
    legend->addWidget(new GestureLabel(QStringLiteral("3.circle.fill"), QStringLiteral("Esc")), 0, Qt::AlignVCenter);
    legend->addStretch(1);
    gestures->addRow(legend);
    auto* gestureNote = makeLabel(QStringLiteral("Vocalynx运行时，音乐控制只在悬浮面板里提供，不占用耳机手势。"),
                                  ui::footnoteFont(), ui::secondary());
    gestures->addFootnote(gestureNote);

    // The voice model.
    FormSection* model = addSection(QStringLiteral("语音模型"));
    modelRow_ = new ModelStatusRow(env_);
    model->addRow(modelRow_);
}

void GeneralSettingsPane::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) loadGeneralSettings();
    GroupedForm::showEvent(event);
}

void GeneralSettingsPane::rebuildDisplayPicker() {
    displayPicker_->clear();
    displayPicker_->addItem(kAutomaticEntry, QString());
    for (const DisplayOption& option : displayOptions_) displayPicker_->addItem(option.name, option.id);
    int index = 0;
    if (preferredDisplay_.kind == PreferredDisplay::Kind::screen)
        index = std::max(0, displayPicker_->findData(preferredDisplay_.screenID));
    displayPicker_->setCurrentIndex(index);
}

void GeneralSettingsPane::setPreferredDisplay(const PreferredDisplay& display) {
    if (display == preferredDisplay_) return;
    preferredDisplay_ = display;
    rebuildDisplayPicker();
    env_.config.setPreferredDisplay(display);
}

void GeneralSettingsPane::loadGeneralSettings() {
    displayOptions_ = env_.screens ? makeDisplayOptions(env_.screens->screens()) : std::vector<DisplayOption>{};
    rebuildDisplayPicker();
    setPreferredDisplay(pickerSelection(env_.config.preferredDisplay(), displayOptions_,
                                        env_.screens ? env_.screens->screens() : std::vector<ScreenDescription>{}));
    stopShortcut_ = env_.config.stopRecordingShortcut();
    recorder_->updateGeometry();
    recorder_->update();
    showShortcutStatus();
    phraseField_->setText(env_.config.stopRecordingVoicePhrase());
}

void GeneralSettingsPane::applyStopShortcut(const KeyboardShortcut& shortcut) {
    env_.config.setStopRecordingShortcut(shortcut);
    if (env_.stopRecordingShortcut) env_.stopRecordingShortcut->registerShortcut();
    showShortcutStatus();
}

void GeneralSettingsPane::showShortcutStatus() {
    using KeyState = StopRecordingShortcutManager::KeyState;
    const KeyState status = env_.stopRecordingShortcut ? env_.stopRecordingShortcut->status() : KeyState::none;
    QString problem;
    if (status == KeyState::taken)
        problem = QStringLiteral("此快捷键已被其他程序占用，请换一个");
    else if (status == KeyState::unavailable)
        problem = QStringLiteral("此快捷键当前无法使用");
    shortcutProblem_->setText(problem);
    shortcutProblem_->setVisible(!problem.isEmpty());
}

}  // namespace vocalynx
