#pragma once
#include "platform/KeyCodeReader.h"

namespace vocalynx {

class X11Session;

// Key presses of our own windows read back through the key table. The key is identified by the
// symbol its hardware key carries without modifiers in the first keyboard group (so Shift-1 is the
// "1" key, not "!"), looked up on our X connection; without one, by the symbol the press produced.
class X11KeyCodeReader final : public KeyCodeReader {
public:
    explicit X11KeyCodeReader(X11Session* session = nullptr) : session_(session) {}
    std::optional<uint32_t> keyCode(const NativeKeyPress& press) const override;
    uint64_t modifierFlags(const NativeKeyPress& press) const override;

private:
    X11Session* session_;
};

}  // namespace vocalynx
