#include "gui/qt/window_origin.h"

namespace sentrel {

// The toolkit's own position is the system's here.
std::optional<QPoint> ClientOrigin(const QWidget&) { return std::nullopt; }

}  // namespace sentrel
