#pragma once
#include <QStringList>
#include <QWidget>
#include <functional>
#include <vector>

namespace vocalynx {

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
