#include "overlay/MediaCardSlot.h"

#include "overlay/OverlayItem.h"

namespace vocalynx {

void MediaCardSlot::setCard(QWidget* card) {
    if (card_) card_->deleteLater();
    card_ = card;
    if (card_) {
        card_->setParent(this);
        placeCard();
        card_->show();
    }
    update();
}

double MediaCardSlot::bleed() const {
    const auto* item = dynamic_cast<const OverlayItem*>(card_.data());
    return item ? item->bleed() : 0;
}

void MediaCardSlot::placeCard() {
    if (!card_) return;
    if (auto* item = dynamic_cast<OverlayItem*>(card_.data())) {
        const double b = item->bleed();
        item->placeContent(QRectF(b, b, width() - 2 * b, height() - 2 * b));
    } else {
        card_->setGeometry(rect());
    }
}

}  // namespace vocalynx
