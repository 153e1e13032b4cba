#pragma once
#include <QAbstractButton>
#include <QPainterPath>

#include "platform/NotificationCenter.h"

namespace vocalynx {

// The gear at the top right of the hover card. Pressing it asks for the settings window; while the
// pointer is over it the pointing hand shows (pushed on entry, popped on exit or when it goes).
class SettingsGearButton : public QAbstractButton {
public:
    SettingsGearButton(NotificationCenter& notifications, QWidget* parent);
    ~SettingsGearButton() override;

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void popCursor();
    // A filled gear about 11 points across with eight teeth and a round hole.
    static QPainterPath gearPath(QPointF c);
    bool cursorPushed_ = false;
};

}  // namespace vocalynx
