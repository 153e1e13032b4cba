#pragma once
#include <QWidget>

#include "core/Types.h"
#include "windows/FormWidgets.h"
#include "windows/SettingsEnvironment.h"

class QLineEdit;

namespace vocalynx {

class ModelStatusRow;
class ShortcutRecorderButton;

// A symbol with a short text beside it (the fixed headset-gesture legend).
class GestureLabel : public QWidget {
    Q_OBJECT
public:
    GestureLabel(const QString& icon, const QString& text, QWidget* parent = nullptr);
};

// The "通用" pane: the stop shortcut, the stop phrase, the gesture legend and the voice model.
// Every change is stored at once; the values are reloaded from the store each time it is shown.
class GeneralSettingsPane : public GroupedForm {
    Q_OBJECT
public:
    explicit GeneralSettingsPane(SettingsEnvironment& environment, QWidget* parent = nullptr);

    // The appearance action: reads the values from the store into the controls.
    void loadGeneralSettings();
    // The recorder's update callback: stores the new shortcut, then registers it as the hot key.
    void applyStopShortcut(const KeyboardShortcut& shortcut);

    const KeyboardShortcut& stopShortcut() const { return stopShortcut_; }
    ShortcutRecorderButton* shortcutRecorder() const { return recorder_; }
    QLineEdit* phraseField() const { return phraseField_; }
    ModelStatusRow* modelRow() const { return modelRow_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    SettingsEnvironment& env_;
    KeyboardShortcut stopShortcut_ = KeyboardShortcut::defaultShortcut();
    ShortcutRecorderButton* recorder_;
    QLineEdit* phraseField_;
    ModelStatusRow* modelRow_;
};

}  // namespace vocalynx
