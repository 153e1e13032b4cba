#pragma once
#include "platform/Clipboard.h"

namespace vocalynx::test {

class FakeClipboard final : public Clipboard {
public:
    bool setText(const QString& value) override {
        ++writes;
        content.clear();
        if (!writeSucceeds) return false;
        content = value;
        return true;
    }
    QString text() override { return content; }

    bool writeSucceeds = true;
    int writes = 0;
    QString content;
};

}  // namespace vocalynx::test
