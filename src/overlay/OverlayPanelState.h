#pragma once
#include <QObject>

namespace vocalynx {

// Whether the pointer holds the panel expanded. The panel controller is its only writer in a
// normal run; the screenshot scene stages it.
class OverlayPanelState : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    bool isHovering() const { return isHovering_; }
    // Announces only a change.
    void setHovering(bool hovering) {
        if (hovering == isHovering_) return;
        isHovering_ = hovering;
        emit isHoveringChanged(hovering);
    }

signals:
    void isHoveringChanged(bool hovering);

private:
    bool isHovering_ = false;
};

}  // namespace vocalynx
