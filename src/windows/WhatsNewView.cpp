#include "windows/WhatsNewView.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRawFont>
#include <QTextLayout>
#include <QVBoxLayout>
#include <cmath>

#include "windows/ViewStyle.h"

namespace vocalynx {

namespace {

constexpr double kSpare = 0.5;  // points kept free above the first and below the last glyph

// Lays the text out in lines no wider than the width, one pitch apart, the first baseline at 0.
void layOut(QTextLayout& layout, double width, double pitch) {
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (int i = 0;; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        line.setPosition(QPointF(0, i * pitch - line.ascent()));
    }
    layout.endLayout();
}

// The highest and lowest ink of the glyphs in the layout, relative to each line's baseline.
void measureInk(const QTextLayout& layout, double& ascent, double& descent) {
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        const double baseline = line.y() + line.ascent();
        for (const QGlyphRun& run : line.glyphRuns()) {
            const QRawFont font = run.rawFont();
            const QList<quint32> glyphs = run.glyphIndexes();
            const QList<QPointF> positions = run.positions();
            for (qsizetype g = 0; g < glyphs.size(); ++g) {
                const QRectF box = font.boundingRect(glyphs[g]).translated(positions[g]);
                if (box.isEmpty()) continue;
                ascent = std::max(ascent, baseline - box.top());
                descent = std::max(descent, box.bottom() - baseline);
            }
        }
    }
}

}  // namespace

NoteText::NoteText(QString text, const QFont& font, const QColor& color, QWidget* parent)
    : QWidget(parent), text_(std::move(text)), color_(color) {
    setFont(font);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    // The box holds the ink of the text itself.
    {
        QTextLayout layout(text_, font);
        layOut(layout, 1e6, 0);
        measureInk(layout, inkAscent_, inkDescent_);
    }
    // The lines are as far apart as the tallest Chinese glyph and the deepest Latin descender need,
    // the same for every text in this font: tighter than the Chinese font's own line spacing (whose
    // ascent leaves room for accents Chinese text does not have), which lets the notes fit the
    // window, and still wide enough that the glyphs of two lines do not overlap.
    double sampleAscent = 0, sampleDescent = 0;
    QTextLayout sample(QStringLiteral("Hgjpy国的"), font);
    layOut(sample, 1e6, 0);
    measureInk(sample, sampleAscent, sampleDescent);
    pitch_ = std::ceil(std::max(sampleAscent, inkAscent_) + std::max(sampleDescent, inkDescent_));
}

void NoteText::shareBaselineWith(const NoteText& other) {
    inkAscent_ = std::max(inkAscent_, other.inkAscent_);
    updateGeometry();
}

int NoteText::lineCount(int width) const {
    QTextLayout layout(text_, font());
    layOut(layout, std::max(1, width), pitch_);
    return std::max(1, layout.lineCount());
}

int NoteText::heightForWidth(int width) const {
    const int lines = lineCount(width);
    return int(std::ceil(kSpare + inkAscent_ + (lines - 1) * pitch_ + inkDescent_ + kSpare));
}

QSize NoteText::sizeHint() const {
    const int natural = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(text_)));
    const int width = std::min(natural, 320);
    return {width, heightForWidth(width)};
}

QSize NoteText::minimumSizeHint() const {
    const int width = QFontMetrics(font()).horizontalAdvance(QStringLiteral("国国"));
    return {width, heightForWidth(width)};
}

void NoteText::paintEvent(QPaintEvent*) {
    QTextLayout layout(text_, font());
    layOut(layout, width(), pitch_);
    QPainter p(this);
    p.setPen(color_);
    layout.draw(&p, QPointF(0, kSpare + inkAscent_));
}

WhatsNewSection::WhatsNewSection(QString title, QStringList items, QWidget* parent)
    : QWidget(parent), title_(std::move(title)), items_(std::move(items)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    const QColor dim = style::secondaryColor(this);
    auto* heading = new NoteText(title_, style::systemFont(13, QFont::DemiBold), dim);
    heading->setObjectName(QStringLiteral("whatsNewHeading"));
    column->addWidget(heading);
    for (const QString& item : items_) {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        // The bullet is laid out like the text beside it, so both share the first baseline.
        auto* bullet = new NoteText(QStringLiteral("•"), style::systemFont(13), dim);
        auto* text = new NoteText(item, style::systemFont(13), palette().color(QPalette::WindowText));
        bullet->shareBaselineWith(*text);
        bullet->setFixedSize(bullet->sizeHint().width() + 1, bullet->heightForWidth(100));
        text->setObjectName(QStringLiteral("whatsNewItem"));
        row->addWidget(bullet, 0, Qt::AlignTop);
        row->addWidget(text, 1, Qt::AlignTop);
        column->addLayout(row);
    }
}

const std::vector<WhatsNewView::Notes>& WhatsNewView::releaseNotes() {
    static const std::vector<Notes> notes{
        {QStringLiteral("新增"),
         {QStringLiteral("语音识别程序检查：找不到 coli 或它无法运行时，会说明缺少什么以及在哪些位置查找"),
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
