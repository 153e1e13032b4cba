#pragma once
#include <QString>

namespace vocalynx {

// The general clipboard (plain text only).
class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Clears the clipboard, then writes the text; true when the text is now on the clipboard.
    virtual bool setText(const QString& text) = 0;
    virtual QString text() = 0;
};

}  // namespace vocalynx
