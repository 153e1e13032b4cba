#pragma once
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "core/Types.h"
#include "platform/KeyCodeReader.h"

namespace vocalynx {

// The control that sets the stop-recording shortcut. At rest it shows the bound shortcut as key
// caps; a click starts recording, and the next key press in this application that is safe to hold
// for the whole desktop (with Command, Option or Control, or an F-key) becomes the new shortcut.
// Any other key press keeps recording and the control says what is missing. While recording every
// key press of the application is consumed. Storing and registering the shortcut is the host's
// callback.
class ShortcutRecorderButton : public QWidget {
    Q_OBJECT
public:
    // shortcut: the host's value, read for display and written when a shortcut is captured; it
    // must outlive the control. onUpdate runs once per captured shortcut, after the write.
    ShortcutRecorderButton(KeyboardShortcut* shortcut, std::function<void(const KeyboardShortcut&)> onUpdate,
                           const KeyCodeReader* keyCodes, QWidget* parent = nullptr);
    ~ShortcutRecorderButton() override;

    void startRecording();
    // Safe when not recording.
    void stopRecording();
    bool isRecording() const { return isRecording_; }
    // True while recording after a key press was refused: the control shows refusalText().
    bool showsRefusal() const { return refused_; }
    static const QString& refusalText();
    bool isHovering() const { return isHovering_; }
    // True while the application-wide key monitor is installed.
    bool hasMonitor() const { return localMonitor_ != nullptr; }

    // One key press while recording: the platform key code (nothing for a key without one) and
    // the platform's key-event modifier flags. The press is always consumed.
    void handleRecordedKey(std::optional<uint32_t> keyCode, uint64_t modifierFlags);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    static constexpr uint32_t kEscapeKeyCode = 53;

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    class KeyDownMonitor;
    void click();
    QStringList keyCaps() const;

    KeyboardShortcut* shortcut_;
    std::function<void(const KeyboardShortcut&)> onUpdate_;
    const KeyCodeReader* keyCodes_;
    bool isRecording_ = false;
    bool refused_ = false;
    bool isHovering_ = false;
    std::unique_ptr<KeyDownMonitor> localMonitor_;
};

}  // namespace vocalynx
