#pragma once
#include <QRect>
#include <QString>
#include <QStringList>
#include <optional>

namespace vocalynx {

// A modal warning the user must answer before going on.
struct AlertRequest {
    QString message;          // the bold first line
    QString informativeText;  // the explanation below it
    QStringList buttons;      // the first one is the default button
    // A window of ours the alert must not cover (desktop coordinates): it opens beside it.
    std::optional<QRect> besideWindow;
};

class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    // Shows the alert and waits for the answer: the index of the pressed button, or -1 when the
    // alert was dismissed without one (or could not be shown at all).
    virtual int runModal(const AlertRequest& request) = 0;
};

}  // namespace vocalynx
