#include "windows/ShortcutRecorderButton.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

#include "windows/SettingsStyle.h"

namespace vocalynx {

// The application-local key-down monitor: an event filter on the application object, which sees
// every key event sent to any of this application's windows before the window or its widgets do.
// Key presses from other applications never reach it.
class ShortcutRecorderButton::KeyDownMonitor : public QObject {
public:
    explicit KeyDownMonitor(ShortcutRecorderButton& owner) : owner_(owner) { qApp->installEventFilter(this); }
    ~KeyDownMonitor() override {
        if (qApp) qApp->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::ShortcutOverride:
                // Claim the key so that no shortcut of any widget fires; the key press follows.
                event->accept();
                return true;
            case QEvent::KeyPress: {
                auto* key = static_cast<QKeyEvent*>(event);
                const KeyCodeReader::NativeKeyPress press{key->nativeScanCode(), key->nativeVirtualKey(),
                                                          key->nativeModifiers()};
                std::optional<uint32_t> code;
                uint64_t flags = 0;
                if (owner_.keyCodes_) {
                    code = owner_.keyCodes_->keyCode(press);
                    flags = owner_.keyCodes_->modifierFlags(press);
                }
                owner_.handleRecordedKey(code, flags);
                return true;
            }
            default:
                return false;
        }
    }

private:
    ShortcutRecorderButton& owner_;
};

ShortcutRecorderButton::ShortcutRecorderButton(KeyboardShortcut* shortcut,
                                               std::function<void(const KeyboardShortcut&)> onUpdate,
                                               const KeyCodeReader* keyCodes, QWidget* parent)
    : QWidget(parent), shortcut_(shortcut), onUpdate_(std::move(onUpdate)), keyCodes_(keyCodes) {
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

ShortcutRecorderButton::~ShortcutRecorderButton() { stopRecording(); }

void ShortcutRecorderButton::startRecording() {
    stopRecording();
    isRecording_ = true;
    refused_ = false;
    localMonitor_ = std::make_unique<KeyDownMonitor>(*this);
    updateGeometry();
    update();
}

void ShortcutRecorderButton::stopRecording() {
    localMonitor_.reset();
    if (!isRecording_) return;
    isRecording_ = false;
    refused_ = false;
    updateGeometry();
    update();
}

void ShortcutRecorderButton::handleRecordedKey(std::optional<uint32_t> keyCode, uint64_t modifierFlags) {
    // Escape first: it ends recording and is never recorded, whatever the modifiers.
    if (keyCode == kEscapeKeyCode) {
        stopRecording();
        return;
    }
    const uint32_t mask = KeyboardShortcut::carbonModifiers(modifierFlags);
    // A key we have no code for (a modifier key on its own, while the user builds the chord)
    // keeps recording.
    if (!keyCode) return;
    // A plain key or Shift+key would take that character from every application: refused, and
    // the control says which modifier is missing.
    const KeyboardShortcut captured{*keyCode, mask};
    if (!captured.isSafe()) {
        if (!refused_) {
            refused_ = true;
            updateGeometry();
            update();
        }
        return;
    }
    *shortcut_ = captured;
    if (onUpdate_) onUpdate_(captured);
    stopRecording();
}

void ShortcutRecorderButton::click() {
    if (isRecording_)
        stopRecording();
    else
        startRecording();
}

void ShortcutRecorderButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) click();
}

void ShortcutRecorderButton::enterEvent(QEnterEvent*) {
    isHovering_ = true;
    update();
}

void ShortcutRecorderButton::leaveEvent(QEvent*) {
    isHovering_ = false;
    update();
}

void ShortcutRecorderButton::hideEvent(QHideEvent*) { stopRecording(); }

QStringList ShortcutRecorderButton::keyCaps() const { return shortcut_->displayString(); }

namespace {
const QFont& capFont() {
    static const QFont font = ui::systemFont(11, QFont::Medium);
    return font;
}
const QFont& recordingFont() {
    static const QFont font = ui::systemFont(12);
    return font;
}
const QString& recordingText() {
    static const QString text = QStringLiteral("录制中…");
    return text;
}
}  // namespace

const QString& ShortcutRecorderButton::refusalText() {
    static const QString text = QStringLiteral("需同时按下 Ctrl、Alt 或 Super");
    return text;
}

QSize ShortcutRecorderButton::sizeHint() const {
    int contentWidth = 0;
    int contentHeight = 0;
    if (isRecording_) {
        const QFontMetrics fm(recordingFont());
        contentWidth = fm.horizontalAdvance(refused_ ? refusalText() : recordingText());
        contentHeight = fm.height();
    } else {
        const QFontMetrics fm(capFont());
        const QStringList caps = keyCaps();
        for (int i = 0; i < caps.size(); ++i) contentWidth += fm.horizontalAdvance(caps[i]) + 10 + (i ? 2 : 0);
        contentHeight = fm.height() + 4;
    }
    return {contentWidth + 16, contentHeight + 8};
}

void ShortcutRecorderButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF outer = QRectF(rect());
    QPainterPath background;
    background.addRoundedRect(outer, 6, 6);
    if (isRecording_) {
        QColor fill = ui::accent();
        fill.setAlphaF(0.12f);
        p.fillPath(background, fill);
        // Stroked inside the bounds with width 1.5.
        QPainterPath border;
        border.addRoundedRect(outer.adjusted(0.75, 0.75, -0.75, -0.75), 5.25, 5.25);
        p.setPen(QPen(ui::accent(), 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawPath(border);
        p.setFont(recordingFont());
        p.setPen(ui::secondary());
        p.drawText(outer.adjusted(8, 4, -8, -4), Qt::AlignCenter, refused_ ? refusalText() : recordingText());
        return;
    }
    if (isHovering_) p.fillPath(background, ui::primary(0.04 / 0.85));

    const QFontMetrics fm(capFont());
    p.setFont(capFont());
    double x = 8;
    const double capHeight = fm.height() + 4;
    const double y = (height() - capHeight) / 2.0;
    for (const QString& part : keyCaps()) {
        const QRectF cap(x, y, fm.horizontalAdvance(part) + 10, capHeight);
        QPainterPath capPath;
        capPath.addRoundedRect(cap, 4, 4);
        p.fillPath(capPath, QColor(0, 0, 0, 20));
        p.setPen(ui::primary());
        p.drawText(cap, Qt::AlignCenter, part);
        x = cap.right() + 2;
    }
}

}  // namespace vocalynx
