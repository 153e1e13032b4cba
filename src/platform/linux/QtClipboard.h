#pragma once
#include "platform/Clipboard.h"

namespace vocalynx {

// The CLIPBOARD selection through QClipboard. The application keeps owning the selection after a
// write, so the text stays available to paste for as long as Vocalynx runs.
class QtClipboard final : public Clipboard {
public:
    bool setText(const QString& text) override;
    QString text() override;
};

}  // namespace vocalynx
