#pragma once
// Moving a borderless window by hand: from the press, the window follows the
// mouse until the button is released. The window manager's own move loop
// would swallow double-clicks and misbehaves with the middle button.
#include <QPoint>

class QWidget;

namespace WindowDrag {
void begin(QWidget* window, QPoint globalPressPos);
bool active();
}
