#pragma once
#include <QColor>
#include <QString>
#include <QWidget>
#include <array>
#include <optional>

#include "windows/SettingsEnvironment.h"

class QLabel;
class QVBoxLayout;

namespace vocalynx {

// The four sections of the settings window, in sidebar order.
enum class SettingsSection { general, sounds, agents, about };
inline constexpr std::array<SettingsSection, 4> kAllSettingsSections{SettingsSection::general, SettingsSection::sounds,
                                                                     SettingsSection::agents, SettingsSection::about};

// The section's title, shown in the sidebar and the detail header ("通用", "提示音", "集成", "关于").
QString settingsSectionTitle(SettingsSection section);
// The section built from its exact title; nothing for any other text.
std::optional<SettingsSection> settingsSectionFromString(const QString& title);
// The symbol of the section's icon tile.
QString settingsSectionSymbol(SettingsSection section);
// The icon tile's gradient: top colour, bottom colour.
struct SectionGradient {
    QColor top;
    QColor bottom;
};
SectionGradient sectionGradient(SettingsSection section);
inline size_t qHash(SettingsSection section, size_t seed = 0) {
    return ::qHash(settingsSectionTitle(section), seed);
}

// One row of the sidebar: the section's icon tile and title.
class SettingsSidebarRow : public QWidget {
    Q_OBJECT
public:
    SettingsSidebarRow(SettingsSection section, QWidget* parent = nullptr);
    SettingsSection section() const { return section_; }
    void setSelected(bool selected);
    bool isSelected() const { return selected_; }

signals:
    void clicked(SettingsSection section);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    SettingsSection section_;
    bool selected_ = false;
};

// The content of the settings window: a sidebar of the four sections (210 wide, never collapsed)
// and a detail column with the selected section's title and a freshly made pane.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    explicit SettingsView(SettingsEnvironment& environment, SettingsSection selectedSection = SettingsSection::general,
                          QWidget* parent = nullptr);

    SettingsSection selectedSection() const { return selectedSection_; }
    void setSelectedSection(SettingsSection section);
    // The pane now shown (one exists only while its section is selected).
    QWidget* pane() const { return pane_; }
    QWidget* sidebar() const { return sidebar_; }
    SettingsSidebarRow* sidebarRow(SettingsSection section) const;
    QString headerText() const;

    static constexpr int kWidth = 600;
    static constexpr int kHeight = 420;
    static constexpr int kSidebarWidth = 210;

private:
    QWidget* makePane(SettingsSection section);
    void showSelectedPane();

    SettingsEnvironment& env_;
    SettingsSection selectedSection_;
    QWidget* sidebar_;
    QLabel* header_;
    QVBoxLayout* detail_;
    QWidget* pane_ = nullptr;
};

}  // namespace vocalynx
