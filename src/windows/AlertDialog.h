#pragma once
#include <QDialog>
#include <vector>

#include "platform/Alerts.h"
#include "platform/Logger.h"

class QLabel;
class QPushButton;

namespace vocalynx {

// A modal warning laid out like a desktop alert: a warning symbol beside a bold message with the
// informative text below it, and the buttons right-aligned underneath. The first button of the
// request is the default one: rightmost, filled in the accent colour, pressed by Return. Escape or
// the close box dismiss it without an answer.
class AlertDialog : public QDialog {
    Q_OBJECT
public:
    explicit AlertDialog(const AlertRequest& request, QWidget* parent = nullptr);

    // The index in the request of the button pressed, or -1 while none was.
    int answer() const { return answer_; }
    // The request's buttons, in the request's order.
    const std::vector<QPushButton*>& buttons() const { return buttons_; }
    QLabel* messageLabel() const { return message_; }
    QLabel* informativeLabel() const { return informative_; }

    // Wide enough that a sentence of the informative text wraps onto two or three lines.
    static constexpr int kWidth = 440;

    // Where an alert of the size opens beside the window (all in desktop coordinates): centred
    // under it when there is room on the screen, else above it, else at the screen's bottom
    // edge, which leaves the window's top (its heading) in view.
    static QPoint placeBeside(QSize alert, QRect window, QRect screen);

private:
    QLabel* message_;
    QLabel* informative_;
    std::vector<QPushButton*> buttons_;
    int answer_ = -1;
};

// Alerts as AlertDialogs. Without a screen to show them on (the offscreen platform) nobody could
// answer, so the alert is written to the log instead and counts as dismissed.
class DialogAlertPresenter final : public AlertPresenter {
public:
    explicit DialogAlertPresenter(Logger& log) : log_(log) {}
    int runModal(const AlertRequest& request) override;

private:
    Logger& log_;
};

}  // namespace vocalynx
