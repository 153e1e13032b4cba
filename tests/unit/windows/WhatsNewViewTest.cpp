#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>

#include "LiveRuntime.h"
#include "WidgetProbe.h"
#include "windows/WhatsNewView.h"

using namespace vocalynx;
using namespace vocalynx::test;

TEST(WhatsNewView, TheVersionFollowsTheTitleWithoutASpace) {
    guiApplication();
    for (const auto& [version, title] :
         std::vector<std::pair<QString, QString>>{{QStringLiteral("1.2.3"), QStringLiteral("Vocalynx v1.2.3")},
                                                  {QStringLiteral(""), QStringLiteral("Vocalynx v")},
                                                  {QStringLiteral("2.0 beta"), QStringLiteral("Vocalynx v2.0 beta")}}) {
        WhatsNewView view(version, [] {});
        auto* label = view.findChild<QLabel*>(QStringLiteral("whatsNewTitle"));
        ASSERT_TRUE(label);
        EXPECT_EQ(label->text(), title);
    }
}

TEST(WhatsNewView, ShowsBothSectionsWithTheirItemsInOrder) {
    guiApplication();
    WhatsNewView view(QStringLiteral("1.0.0"), [] {});
    const auto sections = view.findChildren<WhatsNewSection*>();
    ASSERT_EQ(sections.size(), 2);
    EXPECT_EQ(sections[0]->title(), QStringLiteral("新增"));
    EXPECT_EQ(sections[0]->items(),
              (QStringList{QStringLiteral("语音识别程序检查：找不到 coli 或它无法运行时，会说明缺少什么以及在哪些位置查找"),
                           QStringLiteral("更稳的模型检查：自动检测 SenseVoice 模型是否缺失或损坏，并支持在设置中一键重新下载"),
                           QStringLiteral("自动更新改进：启动后主动进行后台更新检查，并保留“关于”页里的手动检查更新入口")}));
    EXPECT_EQ(sections[1]->title(), QStringLiteral("优化"));
    EXPECT_EQ(sections[1]->items(),
              (QStringList{QStringLiteral("录音稳定性修复：修复部分情况下麦克风采集状态异常导致的崩溃或卡住问题"),
                           QStringLiteral("设置界面优化：调整关于页与更新入口位置，减少配置和排障成本")}));
}

TEST(WhatsNewView, EveryItemGetsItsFullWrappedHeightAndTheButtonSitsCentredAtTheBottom) {
    guiApplication();
    int dismissed = 0;
    WhatsNewView view(QStringLiteral("1.0.0"), [&dismissed] { ++dismissed; });
    view.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(view.size(), QSize(420, 390));

    const auto items = view.findChildren<NoteText*>(QStringLiteral("whatsNewItem"));
    ASSERT_EQ(items.size(), 5);
    int previousBottom = -1;
    for (NoteText* item : items) {
        const QRect r(item->mapTo(&view, QPoint(0, 0)), item->size());
        EXPECT_GE(r.height(), item->heightForWidth(r.width())) << "item squeezed: " << item->text().toStdString();
        EXPECT_GE(item->lineCount(r.width()), 2) << "long items wrap onto a further line";
        EXPECT_GE(r.top(), previousBottom) << "items overlap";
        EXPECT_GE(r.left(), 32);
        EXPECT_LE(r.right(), 420 - 32);
        previousBottom = r.bottom();
    }

    QAbstractButton* ok = findButton(&view, QStringLiteral("好的"));
    ASSERT_TRUE(ok);
    const QRect button(ok->mapTo(&view, QPoint(0, 0)), ok->size());
    EXPECT_EQ(390 - (button.bottom() + 1), 24);
    EXPECT_NEAR(button.center().x(), 210, 1);
    EXPECT_GT(button.top(), previousBottom);

    ok->click();
    ok->click();
    EXPECT_EQ(dismissed, 2);
}

// The glyphs as drawn: every line of every note, its descenders and the bottoms of its Chinese
// characters included, lies inside the note's own box. A glyph cut by the box leaves ink on the
// box's edge row, so the first and last device rows of each box must be blank.
TEST(WhatsNewView, NoGlyphOfTheNotesIsCutByItsBox) {
    guiApplication();
    WhatsNewView view(QStringLiteral("1.0.0"), [] {});
    view.show();
    QCoreApplication::processEvents();
    constexpr int kScale = 2;
    QImage image(view.size() * kScale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(kScale);
    const QColor background = view.palette().color(QPalette::Window);
    image.fill(background);
    view.render(&image);

    auto inkInRow = [&](int y, int left, int right) {
        for (int x = left; x <= right; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - background.red()) + std::abs(c.green() - background.green()) +
                    std::abs(c.blue() - background.blue()) > 24)
                return true;
        }
        return false;
    };
    QList<NoteText*> notes = view.findChildren<NoteText*>(QStringLiteral("whatsNewItem"));
    notes += view.findChildren<NoteText*>(QStringLiteral("whatsNewHeading"));
    ASSERT_EQ(notes.size(), 7);
    for (NoteText* note : notes) {
        const QRect box(note->mapTo(&view, QPoint(0, 0)) * kScale, note->size() * kScale);
        int top = -1, bottom = -1;
        for (int y = box.top(); y <= box.bottom(); ++y)
            if (inkInRow(y, box.left(), box.right())) {
                if (top < 0) top = y;
                bottom = y;
            }
        const std::string what = note->text().toStdString();
        ASSERT_GE(top, 0) << "no ink: " << what;
        EXPECT_GT(top, box.top()) << "glyph tops cut: " << what;
        EXPECT_LT(bottom, box.bottom()) << "glyph bottoms cut: " << what;
    }
}
