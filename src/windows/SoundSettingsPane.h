#pragma once
#include <QWidget>

#include "core/Types.h"
#include "windows/FormWidgets.h"
#include "windows/SettingsEnvironment.h"

namespace vocalynx {

class SwitchToggle;

// One cue: its label, a preview button and the switch that turns the cue on or off in the store.
class SoundToggleRow : public QWidget {
    Q_OBJECT
public:
    SoundToggleRow(QString label, SoundType type, ConfigStore& config, SoundFeedback* sounds, QWidget* parent = nullptr);

    SoundType type() const { return type_; }
    bool enabled() const;
    // The user flipping the switch.
    void setEnabled(bool enabled);
    // The preview button: plays the cue as the sound player would (nothing when it is off).
    void previewSound();
    SwitchToggle* toggle() const { return toggle_; }
    QAbstractButton* previewButton() const { return preview_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString label_;
    SoundType type_;
    ConfigStore& config_;
    SoundFeedback* sounds_;
    SwitchToggle* toggle_;
    QAbstractButton* preview_;
};

// The "提示音" pane: switches and previews for the six cues that can be turned off.
class SoundSettingsPane : public GroupedForm {
    Q_OBJECT
public:
    explicit SoundSettingsPane(SettingsEnvironment& environment, QWidget* parent = nullptr);
    SoundToggleRow* row(SoundType type) const;
};

}  // namespace vocalynx
