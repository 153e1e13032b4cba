#include "windows/AboutSettingsPane.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>
#include <memory>

#include "windows/AboutLinks.h"
#include "windows/SettingsStyle.h"
#include "windows/SymbolImage.h"

namespace vocalynx {

namespace {

// "symbol in a frame 20 wide" at the given size.
SymbolView* rowSymbol(const QString& name, double size, QWidget* parent) {
    return new SymbolView(name, size, ui::primary(), QSize(20, 20), 1.0, parent);
}

SymbolView* chevron(QWidget* parent, const QString& name = QStringLiteral("chevron.right")) {
    return new SymbolView(name, 11, ui::secondary(), QSize(12, 14), 1.25, parent);
}

QLabel* rowText(const QString& text, QWidget* parent) {
    return makeLabel(text, ui::bodyFont(), ui::primary(), parent);
}

}  // namespace

AboutLinkRow::AboutLinkRow(QString icon, QString title, QString value, QString url,
                           std::function<bool(const QUrl&)> openUrl, QWidget* parent)
    : PlainButton(parent), title_(std::move(title)), url_(std::move(url)) {
    setObjectName(title_);
    row()->setSpacing(12);
    row()->addWidget(new SymbolView(icon, 14, ui::primary(), QSize(20, 20), 1.0, this), 0, Qt::AlignVCenter);
    row()->addWidget(rowText(title_, this), 0, Qt::AlignVCenter);
    row()->addStretch(1);
    row()->addWidget(makeLabel(value, ui::bodyFont(), ui::secondary(), this), 0, Qt::AlignVCenter);
    row()->addWidget(chevron(this, QStringLiteral("arrow.up.right")), 0, Qt::AlignVCenter);
    connect(this, &QAbstractButton::clicked, this, [this, openUrl = std::move(openUrl)] { openLink(url_, openUrl); });
}

AboutSettingsPane::AboutSettingsPane(SettingsEnvironment& environment, QWidget* parent)
    : QWidget(parent), env_(environment) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* form = new GroupedForm(this);
    // Four short sections and the version line fit the window without scrolling: the sections sit
    // a little closer than in the other panes, and the version line takes the form's bottom margin.
    form->setSectionSpacing(14);
    form->setBottomInset(8);
    column->addWidget(form, 1);

    // The update check.
    auto* update = new PlainButton;
    update->setObjectName(QStringLiteral("检查更新"));
    update->row()->addWidget(rowSymbol(QStringLiteral("arrow.triangle.2.circlepath"), 13, update));
    update->row()->addWidget(rowText(QStringLiteral("检查更新"), update));
    update->row()->addStretch(1);
    // The distribution's packages bring the updates: a press says so, in the row itself.
    updateNote_ = makeLabel(QStringLiteral("更新随发行版的软件包提供，请用系统的软件包管理器更新"), ui::bodyFont(),
                            ui::secondary(), update);
    updateNote_->setObjectName(QStringLiteral("updateNote"));
    updateNote_->hide();
    update->row()->addWidget(updateNote_, 0, Qt::AlignVCenter);
    connect(update, &QAbstractButton::clicked, this, [this] {
        updateNote_->show();
        requestUpdateCheck();
    });
    updateButton_ = update;
    form->addSection()->addRow(update);

    // The four links.
    auto* links = form->addSection();
    const QString developer = QString::fromUtf8(about::kDeveloperName);
    links->addRow(new AboutLinkRow(QStringLiteral("globe"), QStringLiteral("官网"), QStringLiteral("vocalynx"),
                                   QString::fromUtf8(about::kWebsiteURL), env_.openUrl));
    links->addRow(new AboutLinkRow(QStringLiteral("person"), QStringLiteral("开发者"), developer,
                                   QString::fromUtf8(about::kDeveloperProfileURL), env_.openUrl));
    links->addRow(new AboutLinkRow(QStringLiteral("ladybug"), QStringLiteral("报告 Bug"), QStringLiteral("GitHub Issues"),
                                   QString::fromUtf8(about::kIssuesURL), env_.openUrl));
    links->addRow(new AboutLinkRow(QStringLiteral("envelope"), QStringLiteral("发送反馈"), QStringLiteral("GitHub"),
                                   QString::fromUtf8(about::kNewIssueURL), env_.openUrl));

    // The logs folder and what a report holds.
    auto* diagnostics = form->addSection();
    auto* logs = new PlainButton;
    logs->setObjectName(QStringLiteral("导出诊断报告"));
    logs->row()->addWidget(rowSymbol(QStringLiteral("stethoscope"), 13, logs));
    logs->row()->addWidget(rowText(QStringLiteral("导出诊断报告"), logs));
    logs->row()->addStretch(1);
    logs->row()->addWidget(chevron(logs));
    connect(logs, &QAbstractButton::clicked, this, [this] { openLogsFolder(); });
    logsButton_ = logs;
    diagnostics->addRow(logs);
    auto* note = makeLabel(QStringLiteral("包含系统信息和脱敏日志，不包含录音内容或转写文本。"), ui::footnoteFont(),
                           ui::secondary());
    diagnostics->addFootnote(note);

    // The acknowledgements.
    auto* thanks = new PlainButton;
    thanks->setObjectName(QStringLiteral("致谢"));
    thanks->row()->setSpacing(12);
    thanks->row()->addWidget(rowSymbol(QStringLiteral("doc.text"), 14, thanks), 0, Qt::AlignVCenter);
    thanks->row()->addWidget(rowText(QStringLiteral("致谢"), thanks), 0, Qt::AlignVCenter);
    thanks->row()->addStretch(1);
    thanks->row()->addWidget(makeLabel(QStringLiteral("Coli, Sparkle, Sentry"), ui::bodyFont(), ui::secondary(), thanks), 0,
                             Qt::AlignVCenter);
    thanks->row()->addWidget(chevron(thanks), 0, Qt::AlignVCenter);
    connect(thanks, &QAbstractButton::clicked, this, [this] { showLicenses(); });
    licensesButton_ = thanks;
    form->addSection()->addRow(thanks);

    // The version line below the form, centred, 8 above the bottom edge.
    QColor versionColor = ui::secondary();
    versionColor.setAlphaF(versionColor.alphaF() * 0.5f);
    auto* version = makeLabel(versionLabel(), ui::systemFont(11), versionColor, this);
    version->setObjectName(QStringLiteral("versionLabel"));
    version->setAlignment(Qt::AlignCenter);
    version->setContentsMargins(0, 4, 0, 8);
    column->addWidget(version);
}

QList<AboutLinkRow*> AboutSettingsPane::linkRows() const { return findChildren<AboutLinkRow*>(); }

void AboutSettingsPane::requestUpdateCheck() {
    env_.runtime.notifications.post(notifications::vocalynxCheckForUpdates);
}

void AboutSettingsPane::openLogsFolder() {
    const QString folder = env_.runtime.paths.logs;
    MainQueue& main = env_.runtime.main;
    auto openUrl = env_.openUrl;
    env_.runtime.queues.global().post([folder, &main, openUrl] {
        // A folder that cannot be made is still asked for: the file manager says what is wrong.
        QDir().mkpath(folder);
        main.post([folder, openUrl] {
            if (openUrl) openUrl(QUrl::fromLocalFile(folder));
        });
    });
}

void AboutSettingsPane::showLicenses() {
    if (sheet_) {
        sheet_->raise();
        sheet_->activateWindow();
        return;
    }
    showingLicenses_ = true;
    sheet_ = new LicensesSheet(env_.openUrl, this);
    connect(sheet_, &QDialog::finished, this, [this] {
        showingLicenses_ = false;
        if (LicensesSheet* closed = sheet_.data()) {
            sheet_ = nullptr;
            closed->deleteLater();
        }
    });
    sheet_->open();
}

QString AboutSettingsPane::versionLabel() const {
    return QStringLiteral("Vocalynx v") + env_.runtime.info.string(InfoDictionary::kShortVersion);
}

}  // namespace vocalynx
