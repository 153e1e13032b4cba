#pragma once
// A screen list and pointer that tests set by hand.

#include <map>

#include "platform/Screens.h"

namespace vocalynx::test {

class FakeScreenList final : public ScreenList {
public:
    std::vector<ScreenDescription> screens() const override { return list; }
    std::optional<ScreenDescription> mainScreen() const override {
        if (mainIndex < 0 || mainIndex >= static_cast<int>(list.size())) return std::nullopt;
        return list[static_cast<size_t>(mainIndex)];
    }
    // The primary screen's top edge (global y of its frame's maximum) is native y 0.
    QRect nativeRect(const QRectF& r) const override {
        const double top = list.empty() ? 0 : list.front().frame.y() + list.front().frame.height();
        return QRect(qRound(r.x()), qRound(top - (r.y() + r.height())), qRound(r.width()), qRound(r.height()));
    }
    Token addChangeHandler(ChangeHandler handler) override {
        handlers[next] = std::move(handler);
        return next++;
    }
    void removeChangeHandler(Token token) override { handlers.erase(token); }
    void announceChange() {
        auto copy = handlers;
        for (auto& [t, h] : copy) h();
    }

    std::vector<ScreenDescription> list;
    int mainIndex = 0;  // -1: no main screen
    std::map<Token, ChangeHandler> handlers;
    Token next = 1;
};

class FakePointer final : public PointerLocation {
public:
    QPointF location() const override {
        ++reads;
        return position;
    }
    QPointF position;
    mutable int reads = 0;
};

// A screen without a camera housing: frame (x, y, w, h) with a bar of menuBar points at the top.
inline ScreenDescription plainScreen(QRectF frame, double menuBar, QString name, bool builtIn = false) {
    ScreenDescription s;
    s.frame = frame;
    s.visibleFrame = QRectF(frame.x(), frame.y(), frame.width(), frame.height() - menuBar);
    s.localizedName = name;
    s.displayName = name;
    s.builtInQuery = builtIn;
    return s;
}

// Frame top 982, menu bar 38, housing from x 662 to 850: a 188 x 38 notch.
inline ScreenDescription notchedLaptopScreen() {
    ScreenDescription s;
    s.frame = QRectF(0, 0, 1512, 982);
    s.visibleFrame = QRectF(0, 0, 1512, 944);
    s.safeAreaTopInset = 32;
    s.auxiliaryTopLeftArea = QRectF(0, 950, 662, 32);
    s.auxiliaryTopRightArea = QRectF(850, 950, 662, 32);
    s.displayNumber = 1;
    s.builtInQuery = true;
    s.localizedName = QStringLiteral("Built-in Retina Display");
    return s;
}

}  // namespace vocalynx::test
