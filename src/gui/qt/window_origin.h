#pragma once

#include <optional>

#include <QPoint>

class QWidget;

namespace sentrel {

// Where the inside of a shown top-level window is on the screen, as the
// window system has it. Under some X11 window managers the toolkit's own
// idea is off by the height of the title bar once the frame is added, and a
// placement stored from it would creep down at every run. Nothing where the
// toolkit's position can be trusted, or when the window system cannot say.
std::optional<QPoint> ClientOrigin(const QWidget& window);

}  // namespace sentrel
