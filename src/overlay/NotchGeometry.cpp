#include "overlay/NotchGeometry.h"

#include <algorithm>

#include "core/ConfigStore.h"

namespace vocalynx {

bool rectContains(const QRectF& rect, const QPointF& point) {
    return point.x() >= rect.left() && point.x() < rect.left() + rect.width() && point.y() >= rect.top() &&
           point.y() < rect.top() + rect.height();
}

bool isBuiltInDisplay(const ScreenDescription& screen) {
    if (screen.builtInQuery) return *screen.builtInQuery;
    return screen.auxiliaryTopLeftArea.has_value();
}

QString displayIdentifier(const ScreenDescription& screen) {
    if (screen.displayNumber) return QStringLiteral("screen:") + QString::number(*screen.displayNumber);
    return QStringLiteral("screen:") + screen.localizedName;
}

NotchMetrics NotchMetrics::measure(const std::optional<ScreenDescription>& screen, const ScreenList& screens) {
    if (screen) return of(*screen);
    if (auto main = screens.mainScreen()) return of(*main);
    return NotchMetrics{};
}

NotchMetrics NotchMetrics::of(const ScreenDescription& screen) {
    const QRectF& frame = screen.frame;
    const bool builtIn = isBuiltInDisplay(screen);
    // Frames are bottom-left based: a rectangle's maximum y is its top edge.
    const double frameTop = frame.y() + frame.height();
    const double visibleTop = screen.visibleFrame.y() + screen.visibleFrame.height();
    double menuBar = frameTop - visibleTop;
    if (menuBar <= 0) menuBar = 0;
    const double topInset = std::max(menuBar, screen.safeAreaTopInset);

    NotchMetrics m;
    m.screenFrame = frame;
    m.isBuiltIn = builtIn;
    if (screen.auxiliaryTopLeftArea && screen.auxiliaryTopRightArea) {
        const double left = screen.auxiliaryTopLeftArea->x() + screen.auxiliaryTopLeftArea->width();
        const double right = screen.auxiliaryTopRightArea->x();
        m.notchMinX = left;
        m.notchMaxX = right;
        m.notchWidth = right - left;
        m.notchHeight = topInset;
        m.hasNotch = true;
        return m;
    }
    m.notchWidth = builtIn ? 185 : 172;
    m.notchHeight = std::max(topInset, 24.0);
    const double centre = frame.x() + frame.width() * 0.5;
    m.notchMinX = centre - m.notchWidth * 0.5;
    m.notchMaxX = m.notchWidth * 0.5 + centre;
    m.hasNotch = false;
    return m;
}

std::optional<ScreenDescription> targetScreen(const PreferredDisplay& preference, const ScreenList& screens,
                                              const PointerLocation& pointer) {
    const std::vector<ScreenDescription> all = screens.screens();
    auto firstWhere = [&](auto&& predicate) -> std::optional<ScreenDescription> {
        auto it = std::find_if(all.begin(), all.end(), predicate);
        if (it == all.end()) return std::nullopt;
        return *it;
    };
    std::optional<ScreenDescription> chosen;
    switch (preference.kind) {
        case PreferredDisplay::Kind::automatic: {
            const QPointF p = pointer.location();
            chosen = firstWhere([&](const ScreenDescription& s) { return rectContains(s.frame, p); });
            break;
        }
        case PreferredDisplay::Kind::builtin:
            chosen = firstWhere([](const ScreenDescription& s) { return isBuiltInDisplay(s); });
            break;
        case PreferredDisplay::Kind::external:
            chosen = firstWhere([](const ScreenDescription& s) { return !isBuiltInDisplay(s); });
            break;
        case PreferredDisplay::Kind::screen:
            chosen = firstWhere(
                [&](const ScreenDescription& s) { return displayIdentifier(s) == preference.screenID; });
            break;
    }
    if (chosen) return chosen;
    return screens.mainScreen();
}

std::optional<ScreenDescription> targetScreen(const ConfigStore& config, const ScreenList& screens,
                                              const PointerLocation& pointer) {
    return targetScreen(config.preferredDisplay(), screens, pointer);
}

}  // namespace vocalynx
