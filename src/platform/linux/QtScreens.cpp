#include "platform/linux/QtScreens.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace vocalynx {

namespace {

struct Origin {
    int left = 0;
    int bottom = 0;  // the primary screen's bottom edge in Qt's y-down coordinates
};

Origin globalOrigin() {
    Origin o;
    if (QScreen* primary = QGuiApplication::primaryScreen()) {
        const QRect g = primary->geometry();
        o.left = g.x();
        o.bottom = g.y() + g.height();
    }
    return o;
}

QRectF toGlobal(const QRect& r, const Origin& o) {
    return QRectF(r.x() - o.left, o.bottom - (r.y() + r.height()), r.width(), r.height());
}

}  // namespace

QtScreenList::QtScreenList() {
    auto* app = qGuiApp;
    if (!app) return;
    connect(app, &QGuiApplication::screenAdded, this, [this](QScreen* s) {
        watch(s);
        changed();
    });
    connect(app, &QGuiApplication::screenRemoved, this, [this](QScreen*) { changed(); });
    connect(app, &QGuiApplication::primaryScreenChanged, this, [this](QScreen*) { changed(); });
    for (QScreen* s : QGuiApplication::screens()) watch(s);
}

void QtScreenList::watch(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, [this] { changed(); });
    connect(screen, &QScreen::availableGeometryChanged, this, [this] { changed(); });
}

void QtScreenList::changed() {
    // Copy first: a handler may add or remove handlers.
    const auto handlers = handlers_;
    for (const auto& [token, handler] : handlers)
        if (handlers_.count(token)) handler();
}

bool QtScreenList::isBuiltInConnector(const QString& connectorName) {
    for (const char* prefix : {"eDP", "LVDS", "DSI"})
        if (connectorName.startsWith(QLatin1String(prefix), Qt::CaseInsensitive)) return true;
    return false;
}

ScreenDescription QtScreenList::describe(const QScreen& screen, int primaryLeft, int primaryBottom) {
    const Origin o{primaryLeft, primaryBottom};
    ScreenDescription d;
    d.frame = toGlobal(screen.geometry(), o);
    d.visibleFrame = toGlobal(screen.availableGeometry(), o);
    d.localizedName = screen.name();
    d.builtInQuery = isBuiltInConnector(screen.name());
    const QString maker = screen.manufacturer().trimmed();
    const QString model = screen.model().trimmed();
    const QString human = (maker + QLatin1Char(' ') + model).trimmed();
    d.displayName = human.isEmpty() ? screen.name() : human;
    return d;
}

std::vector<ScreenDescription> QtScreenList::screens() const {
    std::vector<ScreenDescription> out;
    const Origin o = globalOrigin();
    for (QScreen* s : QGuiApplication::screens()) out.push_back(describe(*s, o.left, o.bottom));
    return out;
}

std::optional<ScreenDescription> QtScreenList::mainScreen() const {
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return std::nullopt;
    const Origin o = globalOrigin();
    return describe(*primary, o.left, o.bottom);
}

QRect QtScreenList::nativeRect(const QRectF& r) const {
    const Origin o = globalOrigin();
    const int x = static_cast<int>(std::lround(r.x())) + o.left;
    const int w = static_cast<int>(std::lround(r.width()));
    const int h = static_cast<int>(std::lround(r.height()));
    const int y = o.bottom - static_cast<int>(std::lround(r.y() + r.height()));
    return QRect(x, y, w, h);
}

ScreenList::Token QtScreenList::addChangeHandler(ChangeHandler handler) {
    const Token token = nextToken_++;
    handlers_[token] = std::move(handler);
    return token;
}

void QtScreenList::removeChangeHandler(Token token) { handlers_.erase(token); }

QPointF QtPointerLocation::location() const { return fromLogical(QCursor::pos()); }

QPointF QtPointerLocation::fromLogical(QPoint p) {
    // The pointer stands on a pixel; it is placed at that pixel's centre, so a pointer pushed
    // against the top of the screen is just inside the screen, not on its top edge.
    const Origin o = globalOrigin();
    return QPointF(p.x() - o.left + 0.5, o.bottom - p.y() - 0.5);
}

}  // namespace vocalynx
