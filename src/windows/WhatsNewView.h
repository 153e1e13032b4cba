#pragma once
#include <QStringList>
#include <QWidget>
#include <functional>
#include <vector>

namespace vocalynx {

// Text that wraps to its width, set with lines a little tighter than the font's own. Its box runs
// from the top of its highest glyph to the bottom of its lowest one (with half a point to spare on
// each side), so no glyph is ever cut, and it reports the height it needs for a width.
class NoteText : public QWidget {
    Q_OBJECT
public:
    NoteText(QString text, const QFont& font, const QColor& color, QWidget* parent = nullptr);
    QString text() const { return text_; }
    int lineCount(int width) const;
    // Puts the first baseline as low as the other text's, so a bullet lines up with its item.
    void shareBaselineWith(const NoteText& other);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString text_;
    QColor color_;
    double inkAscent_ = 0;   // highest glyph top above the baseline
    double inkDescent_ = 0;  // lowest glyph bottom below the baseline
    double pitch_ = 0;       // from one baseline to the next
};

// One titled list of release notes.
class WhatsNewSection : public QWidget {
    Q_OBJECT
public:
    WhatsNewSection(QString title, QStringList items, QWidget* parent = nullptr);
    QString title() const { return title_; }
    QStringList items() const { return items_; }

private:
    QString title_;
    QStringList items_;
};

// The release notes shown once after an update: the version in the title, the notes, and a
// button that hands control back to the host.
class WhatsNewView : public QWidget {
    Q_OBJECT
public:
    WhatsNewView(QString version, std::function<void()> onDismiss, QWidget* parent = nullptr);

    struct Notes {
        QString title;
        QStringList items;
    };
    // The release notes, in order.
    static const std::vector<Notes>& releaseNotes();
    static QString titleText(const QString& version);

private:
    QString version_;
    std::function<void()> onDismiss_;
};

}  // namespace vocalynx
