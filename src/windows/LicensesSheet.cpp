#include "windows/LicensesSheet.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QUrl>
#include <QVBoxLayout>

#include "windows/AboutLinks.h"
#include "windows/FormWidgets.h"
#include "windows/SettingsStyle.h"
#include "windows/SymbolImage.h"

namespace vocalynx {

namespace {

// The MIT permission and warranty paragraphs in the common line wrapping.
const char* const kMITBody =
    "Permission is hereby granted, free of charge, to any person obtaining a copy\n"
    "of this software and associated documentation files (the \"Software\"), to deal\n"
    "in the Software without restriction, including without limitation the rights\n"
    "to use, copy, modify, merge, publish, distribute, sublicense, and/or sell\n"
    "copies of the Software, and to permit persons to whom the Software is\n"
    "furnished to do so, subject to the following conditions:\n"
    "\n"
    "The above copyright notice and this permission notice shall be included in all\n"
    "copies or substantial portions of the Software.\n"
    "\n"
    "THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR\n"
    "IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY,\n"
    "FITNESS FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT. IN NO EVENT SHALL THE\n"
    "AUTHORS OR COPYRIGHT HOLDERS BE LIABLE FOR ANY CLAIM, DAMAGES OR OTHER\n"
    "LIABILITY, WHETHER IN AN ACTION OF CONTRACT, TORT OR OTHERWISE, ARISING FROM,\n"
    "OUT OF OR IN CONNECTION WITH THE SOFTWARE OR THE USE OR OTHER DEALINGS IN THE\n"
    "SOFTWARE.\n";

// Sparkle's licence file as the project publishes it (its own line wrapping).
const char* const kSparkleLicense =
    "Copyright (c) 2006-2013 Andy Matuschak.\n"
    "Copyright (c) 2009-2013 Elgato Systems GmbH.\n"
    "Copyright (c) 2011-2014 Kornel Lesiński.\n"
    "Copyright (c) 2015-2017 Mayur Pawashe.\n"
    "Copyright (c) 2014 C.W. Betts.\n"
    "Copyright (c) 2014 Petroules Corporation.\n"
    "Copyright (c) 2014 Big Nerd Ranch.\n"
    "All rights reserved.\n"
    "\n"
    "Permission is hereby granted, free of charge, to any person obtaining a copy of\n"
    "this software and associated documentation files (the \"Software\"), to deal in\n"
    "the Software without restriction, including without limitation the rights to\n"
    "use, copy, modify, merge, publish, distribute, sublicense, and/or sell copies of\n"
    "the Software, and to permit persons to whom the Software is furnished to do so,\n"
    "subject to the following conditions:\n"
    "\n"
    "The above copyright notice and this permission notice shall be included in all\n"
    "copies or substantial portions of the Software.\n"
    "\n"
    "THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR\n"
    "IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY, FITNESS\n"
    "FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT. IN NO EVENT SHALL THE AUTHORS OR\n"
    "COPYRIGHT HOLDERS BE LIABLE FOR ANY CLAIM, DAMAGES OR OTHER LIABILITY, WHETHER\n"
    "IN AN ACTION OF CONTRACT, TORT OR OTHERWISE, ARISING FROM, OUT OF OR IN\n"
    "CONNECTION WITH THE SOFTWARE OR THE USE OR OTHER DEALINGS IN THE SOFTWARE.\n";

QString mitLicense(const char* holderLine) {
    return QStringLiteral("The MIT License (MIT)\n\n") + QString::fromUtf8(holderLine) + QStringLiteral("\n\n") +
           QString::fromUtf8(kMITBody);
}

// The licence as shown: the published files wrap their paragraphs at about 80 columns, wider than
// the sheet, so wrapped lines are joined back into paragraphs for the label to wrap. Short lines
// (notice lines, headings) keep their breaks.
QString displayedLicense(const QString& text) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    QString out;
    for (int i = 0; i < lines.size(); ++i) {
        out += lines[i];
        if (i + 1 == lines.size()) break;
        const bool wrapped = lines[i].size() >= 60 && !lines[i + 1].isEmpty();
        out += wrapped ? QLatin1Char(' ') : QLatin1Char('\n');
    }
    return out;
}

// The component's name with a small arrow that opens its repository, and the licence text.
QWidget* makeEntryView(const LicenseEntry& entry, const std::function<bool(const QUrl&)>& openUrl, QWidget* parent) {
    auto* view = new QWidget(parent);
    view->setObjectName(entry.name);
    auto* column = new QVBoxLayout(view);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    titleRow->addWidget(makeLabel(entry.name, ui::systemFont(14, QFont::DemiBold), ui::primary(), view), 0,
                        Qt::AlignVCenter);
    auto* link = new PlainButton(view);
    link->setObjectName(QStringLiteral("repositoryLink"));
    link->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    link->row()->addWidget(new SymbolView(QStringLiteral("arrow.up.right"), 10, ui::secondary(), QSize(14, 14), 1.0, link));
    link->setToolTip(entry.url);
    QObject::connect(link, &QAbstractButton::clicked, view, [url = entry.url, openUrl] { openLink(url, openUrl); });
    titleRow->addWidget(link, 0, Qt::AlignVCenter);
    titleRow->addStretch(1);
    column->addLayout(titleRow);

    auto* text = makeLabel(displayedLicense(entry.license), ui::systemFont(11, QFont::Normal, true), ui::secondary(), view);
    text->setObjectName(QStringLiteral("licenseText"));
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setWordWrap(true);
    column->addWidget(text);
    return view;
}

}  // namespace

const std::vector<LicenseEntry>& licenseEntries() {
    static const std::vector<LicenseEntry> entries{
        {QStringLiteral("Coli"), QString::fromUtf8(about::kColiRepositoryURL),
         mitLicense("Copyright (c) 2024 Coli contributors")},
        {QStringLiteral("Sparkle"), QString::fromUtf8(about::kSparkleRepositoryURL), QString::fromUtf8(kSparkleLicense)},
        {QStringLiteral("Sentry"), QString::fromUtf8(about::kSentryRepositoryURL),
         mitLicense("Copyright (c) 2015-2025 Sentry")},
    };
    return entries;
}

void openLink(const QString& url, const std::function<bool(const QUrl&)>& openUrl) {
    const QUrl parsed(url, QUrl::StrictMode);
    if (url.isEmpty() || !parsed.isValid() || parsed.scheme().isEmpty()) return;
    if (openUrl) openUrl(parsed);
}

LicensesSheet::LicensesSheet(std::function<bool(const QUrl&)> openUrl, QWidget* parent)
    : QDialog(parent), openUrl_(std::move(openUrl)) {
    setWindowTitle(QStringLiteral("致谢"));
    setModal(true);
    setWindowModality(Qt::WindowModal);
    setFixedSize(kWidth, kHeight);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ui::windowBackground());
    setPalette(pal);
    setAutoFillBackground(true);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    header->addWidget(makeLabel(QStringLiteral("致谢"), ui::headlineFont(), ui::primary(), this), 0, Qt::AlignVCenter);
    header->addStretch(1);
    auto* done = new PushButton(QStringLiteral("完成"), false, this);
    done->setObjectName(QStringLiteral("doneButton"));
    connect(done, &QAbstractButton::clicked, this, &LicensesSheet::dismiss);
    header->addWidget(done, 0, Qt::AlignVCenter);
    column->addLayout(header);

    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    useThinScrollBar(scroll->verticalScrollBar());
    auto* list = new QWidget;
    auto* entries = new QVBoxLayout(list);
    entries->setContentsMargins(16, 16, 16, 16);
    entries->setSpacing(24);
    for (const LicenseEntry& entry : licenseEntries()) entries->addWidget(makeEntryView(entry, openUrl_, list));
    entries->addStretch(1);
    scroll->setWidget(list);
    scroll->viewport()->setAutoFillBackground(false);
    list->setAutoFillBackground(false);
    column->addWidget(scroll, 1);
}

void LicensesSheet::dismiss() { reject(); }

}  // namespace vocalynx
