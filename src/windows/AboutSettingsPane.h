#pragma once
#include <QPointer>
#include <QWidget>

#include "windows/FormWidgets.h"
#include "windows/LicensesSheet.h"
#include "windows/SettingsEnvironment.h"

class QLabel;

namespace vocalynx {

// A link of the about pane: a symbol, a title, the text on the right and the address it opens.
class AboutLinkRow : public PlainButton {
    Q_OBJECT
public:
    AboutLinkRow(QString icon, QString title, QString value, QString url,
                 std::function<bool(const QUrl&)> openUrl, QWidget* parent = nullptr);
    const QString& title() const { return title_; }
    const QString& url() const { return url_; }

private:
    QString title_;
    QString url_;
};

// The "关于" pane: the update check, four links, the logs folder, the acknowledgements and the
// version line.
class AboutSettingsPane : public QWidget {
    Q_OBJECT
public:
    explicit AboutSettingsPane(SettingsEnvironment& environment, QWidget* parent = nullptr);

    // Posts "vocalynxCheckForUpdates"; the application delegate asks the updater to check.
    void requestUpdateCheck();
    // Creates the logs folder (off the main thread) and then shows it in the file manager.
    void openLogsFolder();
    // Shows the licences sheet.
    void showLicenses();
    bool showingLicenses() const { return showingLicenses_; }
    LicensesSheet* licensesSheet() const { return sheet_; }

    // "Vocalynx v" and the short version (nothing after the "v" when the build has none).
    QString versionLabel() const;

    QAbstractButton* updateButton() const { return updateButton_; }
    // Where updates come from, shown in the update row once it is pressed.
    QLabel* updateNote() const { return updateNote_; }
    QAbstractButton* logsButton() const { return logsButton_; }
    QAbstractButton* licensesButton() const { return licensesButton_; }
    QList<AboutLinkRow*> linkRows() const;

private:
    SettingsEnvironment& env_;
    bool showingLicenses_ = false;
    QPointer<LicensesSheet> sheet_;
    QAbstractButton* updateButton_;
    QLabel* updateNote_;
    QAbstractButton* logsButton_;
    QAbstractButton* licensesButton_;
};

}  // namespace vocalynx
