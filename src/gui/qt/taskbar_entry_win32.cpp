#include "gui/qt/taskbar_entry.h"

#include <QWidget>

#include "platform/taskbar_style.h"

namespace sentrel {

void MarkTaskbarEntry(QWidget& window, bool listed) {
  SetTaskbarStyle(static_cast<std::uintptr_t>(window.winId()), listed, false);
}

// A shown window keeps its button until it is shown anew.
void ChangeTaskbarEntry(QWidget& window, bool listed) {
  SetTaskbarStyle(static_cast<std::uintptr_t>(window.winId()), listed, true);
}

}  // namespace sentrel
