#pragma once
#include <QPointer>
#include <QWidget>

namespace vocalynx {

// Where the media card sits in the hover card. A card that paints outside its frame (its shadows)
// gets that room: the slot is the card's frame grown by the card's bleed.
class MediaCardSlot : public QWidget {
public:
    explicit MediaCardSlot(QWidget* parent) : QWidget(parent) {}
    // Takes the card over (the previous one goes); null empties the slot.
    void setCard(QWidget* card);
    QWidget* card() const { return card_; }
    double bleed() const;

protected:
    void resizeEvent(QResizeEvent*) override { placeCard(); }

private:
    void placeCard();
    QPointer<QWidget> card_;
};

}  // namespace vocalynx
