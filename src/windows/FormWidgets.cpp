#include "windows/FormWidgets.h"

#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyleOptionButton>

#include "windows/SettingsStyle.h"

namespace vocalynx {

namespace {

class Hairline : public QWidget {
public:
    explicit Hairline(QWidget* parent) : QWidget(parent) { setFixedHeight(1); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(QRect(10, 0, width() - 20, 1), ui::separator());
    }
};

class SectionBox : public QWidget {
public:
    explicit SectionBox(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);
        p.fillPath(path, QColor(255, 255, 255, 178));
        p.setPen(QPen(QColor(0, 0, 0, 20), 1));
        p.drawPath(path);
    }
};

}  // namespace

GroupedForm::GroupedForm(QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    content_ = new QWidget;
    content_->setObjectName(QStringLiteral("formContent"));
    layout_ = new QVBoxLayout(content_);
    layout_->setContentsMargins(20, 10, 20, 20);
    layout_->setSpacing(18);
    layout_->addStretch(1);
    setWidget(content_);
    useThinScrollBar(verticalScrollBar());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ui::windowBackground());
    setPalette(pal);
    viewport()->setAutoFillBackground(false);
    content_->setAutoFillBackground(false);
    setAutoFillBackground(false);
}

FormSection* GroupedForm::addSection(const QString& header) {
    auto* section = new FormSection(header, content_);
    layout_->insertWidget(layout_->count() - 1, section);
    return section;
}

void GroupedForm::setSectionSpacing(int points) { layout_->setSpacing(points); }

void GroupedForm::setBottomInset(int points) {
    auto m = layout_->contentsMargins();
    m.setBottom(points);
    layout_->setContentsMargins(m);
}

FormSection::FormSection(const QString& header, QWidget* parent) : QWidget(parent), header_(header) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (!header.isEmpty()) {
        auto* title = makeLabel(header, ui::systemFont(13, QFont::DemiBold), ui::primary(), this);
        title->setObjectName(QStringLiteral("sectionHeader"));
        title->setContentsMargins(10, 0, 0, 0);
        layout->addWidget(title);
    }
    box_ = new SectionBox(this);
    rows_ = new QVBoxLayout(box_);
    rows_->setContentsMargins(0, 0, 0, 0);
    rows_->setSpacing(0);
    layout->addWidget(box_);
}

void FormSection::addRow(QWidget* row) {
    if (rows_->count() > 0) rows_->addWidget(new Hairline(box_));
    row->setParent(box_);
    if (row->layout()) row->layout()->setContentsMargins(0, 0, 0, 0);
    row->setContentsMargins(10, 7, 10, 7);
    row->setMinimumHeight(36);
    rows_->addWidget(row);
}

void FormSection::addFootnote(QLabel* note) {
    note->setWordWrap(true);
    addRow(note);
    note->setMinimumHeight(0);
}

QWidget* FormSection::addRow(QLayout* layout) {
    auto* row = new QWidget;
    layout->setContentsMargins(0, 0, 0, 0);
    row->setLayout(layout);
    addRow(row);
    return row;
}

SwitchToggle::SwitchToggle(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFixedSize(sizeHint());
    setFocusPolicy(Qt::TabFocus);
}

void SwitchToggle::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double r = track.height() / 2;
    QColor fill = isChecked() ? ui::accent() : QColor(0, 0, 0, 28);
    if (!isEnabled()) fill.setAlphaF(fill.alphaF() * 0.5);
    p.setPen(isChecked() ? Qt::NoPen : QPen(QColor(0, 0, 0, 20), 1));
    p.setBrush(fill);
    p.drawRoundedRect(track, r, r);
    const double knob = track.height() - 2;
    const double x = isChecked() ? track.right() - 1 - knob : track.left() + 1;
    p.setPen(QPen(QColor(0, 0, 0, 30), 0.5));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(x, track.top() + 1, knob, knob));
}

PlainButton::PlainButton(QWidget* parent) : QAbstractButton(parent) {
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(0, 0, 0, 0);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

QSize PlainButton::sizeHint() const { return row_->sizeHint(); }
QSize PlainButton::minimumSizeHint() const { return row_->minimumSize(); }

void PlainButton::paintEvent(QPaintEvent*) {
    if (!isDown()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 14));
    p.drawRoundedRect(QRectF(rect()), 4, 4);
}

PushButton::PushButton(const QString& text, bool prominent, QWidget* parent)
    : QAbstractButton(parent), prominent_(prominent) {
    setText(text);
    setFont(ui::systemFont(13));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PushButton::setProminent(bool prominent) {
    prominent_ = prominent;
    update();
}

QSize PushButton::sizeHint() const {
    const QFontMetrics fm(font());
    return {std::max(fm.horizontalAdvance(text()) + 22, 56), 22};
}

void PushButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -1.0);
    QColor fill, border, text;
    if (prominent_) {
        fill = ui::accent();
        if (isDown()) fill = fill.darker(115);
        border = Qt::transparent;
        text = Qt::white;
    } else {
        fill = isDown() ? QColor(0xE0, 0xE0, 0xE0) : Qt::white;
        border = QColor(0, 0, 0, 40);
        text = ui::primary();
    }
    if (!isEnabled()) {
        if (prominent_) fill = QColor(0, 0, 0, 25);
        text = QColor(0, 0, 0, 64);
    }
    p.setPen(border == Qt::transparent ? QPen(Qt::NoPen) : QPen(border, 0.8));
    p.setBrush(fill);
    p.drawRoundedRect(r, 5, 5);
    p.setPen(text);
    p.setFont(font());
    p.drawText(rect().adjusted(0, 0, 0, -1), Qt::AlignCenter, this->text());
}

void useThinScrollBar(QScrollBar* bar) {
    bar->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { background: transparent; width: 8px; margin: 2px 1px 2px 0px; }"
        "QScrollBar::handle:vertical { background: rgba(0,0,0,64); border-radius: 3px; min-height: 24px; }"
        "QScrollBar::handle:vertical:hover, QScrollBar::handle:vertical:pressed { background: rgba(0,0,0,110); }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0px; border: none; background: none; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
}

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
    return label;
}

}  // namespace vocalynx
