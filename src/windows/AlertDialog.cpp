#include "windows/AlertDialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "windows/SettingsStyle.h"
#include "windows/SymbolImage.h"
#include "windows/ViewStyle.h"

namespace vocalynx {

namespace {
const QColor kWarningAmber(0xF5, 0xA6, 0x23);

QLabel* wrappedLabel(const QString& text, const QFont& font, const QColor& color) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
    return label;
}
}  // namespace

AlertDialog::AlertDialog(const AlertRequest& request, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Vocalynx"));
    setModal(true);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ui::windowBackground());
    pal.setColor(QPalette::WindowText, ui::primary());
    setPalette(pal);
    style::useAccentForSelection(this);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(20, 20, 20, 16);
    outer->setSpacing(18);

    auto* body = new QHBoxLayout;
    body->setSpacing(16);
    auto* symbol = new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), 40, kWarningAmber, QSize(48, 48));
    symbol->setObjectName(QStringLiteral("alertSymbol"));
    body->addWidget(symbol, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    message_ = wrappedLabel(request.message, ui::systemFont(15, QFont::Bold), ui::primary());
    message_->setObjectName(QStringLiteral("alertMessage"));
    texts->addWidget(message_);
    informative_ = wrappedLabel(request.informativeText, ui::systemFont(13), ui::primary(0.8));
    informative_->setObjectName(QStringLiteral("alertInformativeText"));
    informative_->setVisible(!request.informativeText.isEmpty());
    texts->addWidget(informative_);
    body->addLayout(texts, 1);
    outer->addLayout(body);

    // Right-aligned, the default button last (rightmost), as desktop alerts place it.
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addStretch(1);
    for (int i = 0; i < request.buttons.size(); ++i) {
        QPushButton* button =
            i == 0 ? style::prominentButton(request.buttons[i]) : style::defaultButton(request.buttons[i]);
        button->setObjectName(i == 0 ? QStringLiteral("alertDefaultButton") : QString());
        button->setMinimumWidth(72);
        button->setAutoDefault(false);
        button->setDefault(i == 0);
        connect(button, &QPushButton::clicked, this, [this, i] {
            answer_ = i;
            accept();
        });
        buttons_.push_back(button);
    }
    for (auto it = buttons_.rbegin(); it != buttons_.rend(); ++it) row->addWidget(*it);
    outer->addLayout(row);

    // A fixed width and the height the wrapped texts need at it.
    setFixedWidth(kWidth);
    setFixedHeight(outer->heightForWidth(kWidth));
    if (!buttons_.empty()) buttons_.front()->setFocus();
}

QPoint AlertDialog::placeBeside(QSize alert, QRect window, QRect screen) {
    constexpr int gap = 16;
    const int x = std::clamp(window.x() + (window.width() - alert.width()) / 2, screen.left(),
                             std::max(screen.left(), screen.right() + 1 - alert.width()));
    if (window.bottom() + 1 + gap + alert.height() <= screen.bottom() + 1) return {x, window.bottom() + 1 + gap};
    if (window.top() - gap - alert.height() >= screen.top()) return {x, window.top() - gap - alert.height()};
    return {x, std::max(screen.top(), screen.bottom() + 1 - alert.height())};
}

int DialogAlertPresenter::runModal(const AlertRequest& request) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) ||
        QGuiApplication::platformName() == QLatin1String("offscreen")) {
        log_.line(QStringLiteral("[Vocalynx] Alert (no screen to show it): ") + request.message + QLatin1Char(' ') +
                  request.informativeText);
        return -1;
    }
    AlertDialog dialog(request);
    if (request.besideWindow) {
        const QScreen* screen = QGuiApplication::screenAt(request.besideWindow->center());
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (screen) dialog.move(AlertDialog::placeBeside(dialog.size(), *request.besideWindow, screen->availableGeometry()));
    }
    dialog.exec();
    return dialog.answer();
}

}  // namespace vocalynx
