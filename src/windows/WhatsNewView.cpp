#include "windows/WhatsNewView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "windows/ViewStyle.h"

namespace vocalynx {

namespace {
constexpr int kLineHeightPercent = 82;

QString tightLines(const QString& text) {
    return QStringLiteral("<div style=\"line-height:%1%\">").arg(kLineHeightPercent) + text.toHtmlEscaped() +
           QStringLiteral("</div>");
}
}

WhatsNewSection::WhatsNewSection(QString title, QStringList items, QWidget* parent)
    : QWidget(parent), title_(std::move(title)), items_(std::move(items)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    auto* heading = new QLabel(tightLines(title_));
    heading->setTextFormat(Qt::RichText);
    heading->setFont(style::systemFont(13, QFont::DemiBold));
    QPalette dim = heading->palette();
    dim.setColor(QPalette::WindowText, style::secondaryColor(heading));
    heading->setPalette(dim);
    column->addWidget(heading);
    for (const QString& item : items_) {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        auto* bullet = new QLabel(QStringLiteral("•"));
        bullet->setPalette(dim);
        bullet->setFont(style::systemFont(13));
        // Slightly tighter lines than the font's own, so the notes fit the window as drawn
        // with a Chinese font.
        auto* text = new QLabel(tightLines(item));
        text->setTextFormat(Qt::RichText);
        text->setFont(style::systemFont(13));
        text->setWordWrap(true);
        text->setObjectName(QStringLiteral("whatsNewItem"));
        row->addWidget(bullet, 0, Qt::AlignTop);
        row->addWidget(text, 1, Qt::AlignTop);
        column->addLayout(row);
    }
}

const std::vector<WhatsNewView::Notes>& WhatsNewView::releaseNotes() {
    static const std::vector<Notes> notes{
        {QStringLiteral("新增"),
         {QStringLiteral("内置语音运行时：随 App 打包 Node.js 与 coli，用户不再需要手动安装 npm、Node 或 coli"),
          QStringLiteral("更稳的模型检查：自动检测 SenseVoice 模型是否缺失或损坏，并支持在设置中一键重新下载"),
          QStringLiteral("自动更新改进：启动后主动进行后台更新检查，并保留“关于”页里的手动检查更新入口")}},
        {QStringLiteral("优化"),
         {QStringLiteral("录音稳定性修复：修复部分情况下麦克风采集状态异常导致的崩溃或卡住问题"),
          QStringLiteral("设置界面优化：调整关于页与更新入口位置，减少配置和排障成本")}},
    };
    return notes;
}

QString WhatsNewView::titleText(const QString& version) { return QStringLiteral("Vocalynx v") + version; }

WhatsNewView::WhatsNewView(QString version, std::function<void()> onDismiss, QWidget* parent)
    : QWidget(parent), version_(std::move(version)), onDismiss_(std::move(onDismiss)) {
    setFixedSize(420, 390);
    style::useAccentForSelection(this);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addSpacing(32);

    auto* title = new QLabel(titleText(version_));
    title->setObjectName(QStringLiteral("whatsNewTitle"));
    // The title is Latin text: the plain sans font, whose lines are lower than the Chinese one's.
    QFont titleFont = QApplication::font();
    titleFont.setPixelSize(22);
    titleFont.setWeight(QFont::Bold);
    title->setFont(titleFont);
    title->setContentsMargins(32, 0, 32, 0);
    column->addWidget(title);
    column->addSpacing(20);

    auto* sections = new QVBoxLayout;
    sections->setContentsMargins(32, 0, 32, 0);
    sections->setSpacing(16);
    for (const Notes& notes : releaseNotes()) sections->addWidget(new WhatsNewSection(notes.title, notes.items));
    column->addLayout(sections);
    column->addStretch(1);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(0, 0, 0, 24);
    buttonRow->addStretch(1);
    auto* ok = style::prominentButton(QStringLiteral("好的"), nullptr, true);
    ok->setDefault(false);
    ok->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, [this] {
        if (onDismiss_) onDismiss_();
    });
    buttonRow->addWidget(ok);
    buttonRow->addStretch(1);
    column->addLayout(buttonRow);
}

}  // namespace vocalynx
