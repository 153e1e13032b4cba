#pragma once
#include <QObject>
#include <map>

#include "platform/Screens.h"

class QScreen;

namespace vocalynx {

// The screens of the running Qt application. QScreen has no display number, safe inset or
// camera-housing areas, so every screen gets the tab form and is identified by its connector
// name; a connector named eDP, LVDS or DSI is a built-in panel.
class QtScreenList final : public QObject, public ScreenList {
public:
    QtScreenList();
    std::vector<ScreenDescription> screens() const override;
    std::optional<ScreenDescription> mainScreen() const override;
    QRect nativeRect(const QRectF& globalRect) const override;
    Token addChangeHandler(ChangeHandler handler) override;
    void removeChangeHandler(Token token) override;

    static bool isBuiltInConnector(const QString& connectorName);
    // Describes one screen; primaryBottom and primaryLeft place the global origin.
    static ScreenDescription describe(const QScreen& screen, int primaryLeft, int primaryBottom);

private:
    void watch(QScreen* screen);
    void changed();
    std::map<Token, ChangeHandler> handlers_;
    Token nextToken_ = 1;
};

// The pointer through QCursor, converted like the screens.
class QtPointerLocation final : public PointerLocation {
public:
    QPointF location() const override;
    // A position in Qt's global pixels (QCursor::pos()) in global coordinates.
    static QPointF fromLogical(QPoint position);
};

}  // namespace vocalynx
