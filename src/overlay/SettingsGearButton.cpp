#include "overlay/SettingsGearButton.h"

#include <QGuiApplication>
#include <QPainter>

#include "overlay/OverlayEffects.h"

namespace vocalynx {

SettingsGearButton::SettingsGearButton(NotificationCenter& notifications, QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QAbstractButton::clicked, this,
            [&notifications] { notifications.post(notifications::openSettingsFromPanel); });
}

SettingsGearButton::~SettingsGearButton() { popCursor(); }

void SettingsGearButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(withOpacity(Qt::white, 0.5));
    p.drawPath(gearPath(QPointF(width() / 2.0, height() / 2.0)));
}

void SettingsGearButton::enterEvent(QEnterEvent* event) {
    if (!cursorPushed_) {
        QGuiApplication::setOverrideCursor(Qt::PointingHandCursor);
        cursorPushed_ = true;
    }
    QAbstractButton::enterEvent(event);
}

void SettingsGearButton::leaveEvent(QEvent* event) {
    popCursor();
    QAbstractButton::leaveEvent(event);
}

void SettingsGearButton::hideEvent(QHideEvent* event) {
    popCursor();
    QAbstractButton::hideEvent(event);
}

void SettingsGearButton::popCursor() {
    if (!cursorPushed_) return;
    QGuiApplication::restoreOverrideCursor();
    cursorPushed_ = false;
}

QPainterPath SettingsGearButton::gearPath(QPointF c) {
    QPainterPath teeth;
    teeth.setFillRule(Qt::WindingFill);
    teeth.addEllipse(c, 4.2, 4.2);
    for (int i = 0; i < 8; ++i) {
        QPainterPath tooth;
        tooth.addRoundedRect(QRectF(-1.15, -5.6, 2.3, 3.0), 0.6, 0.6);
        QTransform t;
        t.translate(c.x(), c.y());
        t.rotate(i * 45.0);
        teeth.addPath(t.map(tooth));
    }
    QPainterPath hole;
    hole.addEllipse(c, 1.8, 1.8);
    return teeth.simplified().subtracted(hole);
}

}  // namespace vocalynx
