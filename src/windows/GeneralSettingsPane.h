#pragma once
#include <QWidget>

#include "core/Types.h"
#include "windows/FormWidgets.h"
#include "windows/SettingsEnvironment.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace vocalynx {

class ModelStatusRow;
class ShortcutRecorderButton;

// One entry of the display picker: the screen's stored identifier and the text shown.
struct DisplayOption {
    QString id;
    QString name;
    bool operator==(const DisplayOption&) const = default;
};

// One option per screen, in screen order. A name that several screens share is followed by " #"
// and the screen's 1-based position in the list.
std::vector<DisplayOption> makeDisplayOptions(const std::vector<ScreenDescription>& screens);

// The picker's value for a stored preference: "auto" stays; "builtin" and "external" become the
// first listed screen of that kind; a screen that is listed stays; anything else is "auto".
PreferredDisplay pickerSelection(const PreferredDisplay& stored, const std::vector<DisplayOption>& options,
                                 const std::vector<ScreenDescription>& screens);

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
    // The line under the shortcut, shown only while the shortcut cannot stop a dictation (another
    // program holds the key, or it has no key here).
    QLabel* shortcutProblem() const { return shortcutProblem_; }
    QLineEdit* phraseField() const { return phraseField_; }
    QComboBox* displayPicker() const { return displayPicker_; }
    const PreferredDisplay& preferredDisplay() const { return preferredDisplay_; }
    const std::vector<DisplayOption>& displayOptions() const { return displayOptions_; }
    // The picker's value changing (by the user or by loading): shown and stored when it differs.
    void setPreferredDisplay(const PreferredDisplay& display);
    ModelStatusRow* modelRow() const { return modelRow_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    SettingsEnvironment& env_;
    void rebuildDisplayPicker();
    void showShortcutStatus();

    PreferredDisplay preferredDisplay_ = PreferredDisplay::automatic();
    std::vector<DisplayOption> displayOptions_;
    QComboBox* displayPicker_;
    KeyboardShortcut stopShortcut_ = KeyboardShortcut::defaultShortcut();
    ShortcutRecorderButton* recorder_;
    QLabel* shortcutProblem_;
    QLineEdit* phraseField_;
    ModelStatusRow* modelRow_;
};

}  // namespace vocalynx
