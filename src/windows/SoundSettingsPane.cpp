#include "windows/SoundSettingsPane.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QShowEvent>

#include "core/SoundFeedback.h"
#include "windows/SettingsStyle.h"
#include "windows/SymbolImage.h"

namespace vocalynx {

namespace {

// The preview button: the speaker symbol at 11 in the secondary colour, centred in a 24 x 24
// frame on a faint rounded square.
class PreviewButton : public QAbstractButton {
public:
    explicit PreviewButton(QWidget* parent) : QAbstractButton(parent) {
        setFixedSize(24, 24);
        setCursor(Qt::PointingHandCursor);
        setToolTip(QStringLiteral("试听"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath frame;
        frame.addRoundedRect(QRectF(rect()), 5, 5);
        p.fillPath(frame, ui::primary(isDown() ? 0.12 / 0.85 : 0.05 / 0.85));
        const double side = 11 * 1.2;
        paintSymbol(p, QStringLiteral("speaker.wave.2"), QRectF(12 - side / 2, 12 - side / 2, side, side), ui::secondary());
    }
};

struct RowSpec {
    const char* header;
    const char* label;
    SoundType type;
};

const RowSpec kRows[] = {
    {"录音提示音", "结束录音", SoundType::stopRecording},
    {"录音提示音", "确认 (Enter)", SoundType::confirm},
    {"录音提示音", "取消 (Esc)", SoundType::cancel},
    {"Agent 提示音", "开始工作", SoundType::agentStart},
    {"Agent 提示音", "完成回复", SoundType::agentComplete},
    {"Agent 提示音", "请求权限", SoundType::agentPermission},
};

}  // namespace

SoundToggleRow::SoundToggleRow(QString label, SoundType type, ConfigStore& config, SoundFeedback* sounds, QWidget* parent)
    : QWidget(parent), label_(std::move(label)), type_(type), config_(config), sounds_(sounds) {
    setObjectName(soundTypeName(type));
    auto* row = new QHBoxLayout(this);
    row->addWidget(makeLabel(label_, ui::systemFont(13, QFont::Medium), ui::primary(), this), 0, Qt::AlignVCenter);
    row->addStretch(1);
    preview_ = new PreviewButton(this);
    connect(preview_, &QAbstractButton::clicked, this, [this] { previewSound(); });
    row->addWidget(preview_, 0, Qt::AlignVCenter);
    toggle_ = new SwitchToggle(this);
    // The view state starts on and takes the stored value when the row is shown.
    toggle_->setChecked(true);
    connect(toggle_, &QAbstractButton::clicked, this, [this](bool on) { config_.setSoundEnabled(type_, on); });
    row->addWidget(toggle_, 0, Qt::AlignVCenter);
}

bool SoundToggleRow::enabled() const { return toggle_->isChecked(); }

void SoundToggleRow::setEnabled(bool enabled) {
    if (toggle_->isChecked() == enabled) return;
    toggle_->click();
}

void SoundToggleRow::previewSound() {
    if (sounds_) sounds_->play(type_);
}

void SoundToggleRow::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) toggle_->setChecked(config_.isSoundEnabled(type_));
    QWidget::showEvent(event);
}

SoundSettingsPane::SoundSettingsPane(SettingsEnvironment& environment, QWidget* parent) : GroupedForm(parent) {
    FormSection* section = nullptr;
    QString header;
    for (const RowSpec& spec : kRows) {
        if (!section || header != QString::fromUtf8(spec.header)) {
            header = QString::fromUtf8(spec.header);
            section = addSection(header);
        }
        section->addRow(new SoundToggleRow(QString::fromUtf8(spec.label), spec.type, environment.config, environment.sounds));
    }
}

SoundToggleRow* SoundSettingsPane::row(SoundType type) const {
    for (auto* r : findChildren<SoundToggleRow*>())
        if (r->type() == type) return r;
    return nullptr;
}

}  // namespace vocalynx
