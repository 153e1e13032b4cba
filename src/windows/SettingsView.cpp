#include "windows/SettingsView.h"

#include <QHBoxLayout>
#include <functional>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "windows/AboutSettingsPane.h"
#include "windows/AgentSettingsPane.h"
#include "windows/FormWidgets.h"
#include "windows/GeneralSettingsPane.h"
#include "windows/SoundSettingsPane.h"
#include "windows/SymbolImage.h"
#include "windows/SettingsStyle.h"

namespace vocalynx {

QString settingsSectionTitle(SettingsSection section) {
    switch (section) {
        case SettingsSection::general: return QStringLiteral("通用");
        case SettingsSection::sounds: return QStringLiteral("提示音");
        case SettingsSection::agents: return QStringLiteral("集成");
        case SettingsSection::about: return QStringLiteral("关于");
    }
    return {};
}

std::optional<SettingsSection> settingsSectionFromString(const QString& title) {
    for (SettingsSection section : kAllSettingsSections)
        if (settingsSectionTitle(section) == title) return section;
    return std::nullopt;
}

QString settingsSectionSymbol(SettingsSection section) {
    switch (section) {
        case SettingsSection::general: return QStringLiteral("gearshape");
        case SettingsSection::sounds: return QStringLiteral("speaker.wave.2.fill");
        case SettingsSection::agents: return QStringLiteral("bolt.fill");
        case SettingsSection::about: return QStringLiteral("info.circle.fill");
    }
    return {};
}

SectionGradient sectionGradient(SettingsSection section) {
    auto faded = [](QColor c) {
        c.setAlphaF(0.82f);
        return c;
    };
    switch (section) {
        case SettingsSection::general: return {faded(ui::gray()), ui::gray()};
        case SettingsSection::sounds: return {faded(ui::green()), ui::green()};
        case SettingsSection::agents: return {faded(ui::indigo()), ui::purple()};
        case SettingsSection::about: return {faded(ui::blue()), ui::blue()};
    }
    return {};
}

// ---- Sidebar row ----

SettingsSidebarRow::SettingsSidebarRow(SettingsSection section, QWidget* parent) : QWidget(parent), section_(section) {
    setObjectName(settingsSectionTitle(section));
    setFixedHeight(26 + 2 * 3 + 4);
    setCursor(Qt::PointingHandCursor);
}

void SettingsSidebarRow::setSelected(bool selected) {
    selected_ = selected;
    update();
}

void SettingsSidebarRow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit clicked(section_);
}

void SettingsSidebarRow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (selected_) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 22));
        p.drawRoundedRect(QRectF(rect()), 6, 6);
    }
    // Icon tile: 26 x 26, corner radius 7, the section's gradient from top to bottom.
    const QRectF tile(8, (height() - 26) / 2.0, 26, 26);
    const SectionGradient g = sectionGradient(section_);
    QLinearGradient gradient(tile.topLeft(), tile.bottomLeft());
    // The top colour is the bottom colour's hue at 0.82 opacity: draw it over white like the
    // sidebar's light material does.
    gradient.setColorAt(0, g.top);
    gradient.setColorAt(1, g.bottom);
    QPainterPath tilePath;
    tilePath.addRoundedRect(tile, 7, 7);
    p.fillPath(tilePath, Qt::white);
    p.fillPath(tilePath, gradient);
    paintSymbol(p, settingsSectionSymbol(section_), tile.adjusted(6, 6, -6, -6), Qt::white, 1.25);
    // Title: 14, medium, 10 after the tile.
    p.setFont(ui::systemFont(14, QFont::Medium));
    p.setPen(ui::primary());
    p.drawText(QRectF(tile.right() + 10, 0, width() - tile.right() - 10, height()), Qt::AlignVCenter | Qt::AlignLeft,
               settingsSectionTitle(section_));
}

// ---- The view ----

namespace {

class Sidebar : public QWidget {
public:
    explicit Sidebar(QWidget* parent) : QWidget(parent) {
        setFixedWidth(SettingsView::kSidebarWidth);
        setFocusPolicy(Qt::StrongFocus);
    }

    // Up and Down move the selection, as in a list.
    std::function<void(int step)> onArrow;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (onArrow && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down))
            onArrow(event->key() == Qt::Key_Down ? 1 : -1);
        else
            QWidget::keyPressEvent(event);
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), ui::sidebarBackground());
        p.fillRect(QRect(width() - 1, 0, 1, height()), QColor(0, 0, 0, 30));
    }
};

}  // namespace

SettingsView::SettingsView(SettingsEnvironment& environment, SettingsSection selectedSection, QWidget* parent)
    : QWidget(parent), env_(environment), selectedSection_(selectedSection) {
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ui::windowBackground());
    pal.setColor(QPalette::WindowText, ui::primary());
    setPalette(pal);

    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);

    auto* sidebar = new Sidebar(this);
    sidebar->onArrow = [this](int step) {
        const int index = static_cast<int>(selectedSection_) + step;
        if (index >= 0 && index < static_cast<int>(kAllSettingsSections.size()))
            setSelectedSection(kAllSettingsSections[static_cast<size_t>(index)]);
    };
    sidebar_ = sidebar;
    auto* list = new QVBoxLayout(sidebar_);
    list->setContentsMargins(10, 12, 10, 10);
    list->setSpacing(2);
    for (SettingsSection section : kAllSettingsSections) {
        auto* row = new SettingsSidebarRow(section, sidebar_);
        connect(row, &SettingsSidebarRow::clicked, this, [this](SettingsSection s) {
            sidebar_->setFocus();
            setSelectedSection(s);
        });
        list->addWidget(row);
    }
    list->addStretch(1);
    columns->addWidget(sidebar_);

    auto* detail = new QWidget(this);
    detail_ = new QVBoxLayout(detail);
    detail_->setContentsMargins(0, 0, 0, 0);
    detail_->setSpacing(0);
    header_ = makeLabel({}, ui::systemFont(17, QFont::DemiBold), ui::primary(), detail);
    header_->setObjectName(QStringLiteral("settingsHeader"));
    header_->setContentsMargins(20, 10, 20, 0);
    detail_->addWidget(header_, 0, Qt::AlignTop | Qt::AlignLeft);
    columns->addWidget(detail, 1);

    showSelectedPane();
}

SettingsSidebarRow* SettingsView::sidebarRow(SettingsSection section) const {
    for (auto* row : sidebar_->findChildren<SettingsSidebarRow*>())
        if (row->section() == section) return row;
    return nullptr;
}

QString SettingsView::headerText() const { return header_->text(); }

void SettingsView::setSelectedSection(SettingsSection section) {
    if (section == selectedSection_ && pane_) return;
    selectedSection_ = section;
    showSelectedPane();
}

QWidget* SettingsView::makePane(SettingsSection section) {
    switch (section) {
        case SettingsSection::general: return new GeneralSettingsPane(env_);
        case SettingsSection::sounds: return new SoundSettingsPane(env_);
        case SettingsSection::agents: return new AgentSettingsPane(env_);
        case SettingsSection::about: return new AboutSettingsPane(env_);
    }
    return new QWidget;
}

void SettingsView::showSelectedPane() {
    for (auto* row : sidebar_->findChildren<SettingsSidebarRow*>()) row->setSelected(row->section() == selectedSection_);
    header_->setText(settingsSectionTitle(selectedSection_));
    if (pane_) {
        detail_->removeWidget(pane_);
        // Deleted at once: its disappearance ends anything it runs (a shortcut recording).
        delete pane_;
        pane_ = nullptr;
    }
    pane_ = makePane(selectedSection_);
    pane_->setParent(this);
    detail_->addWidget(pane_, 1);
    pane_->show();
}

}  // namespace vocalynx
