#include "gui/qt/taskbar_entry.h"

#include <windows.h>

#include <QWidget>

namespace sentrel {

namespace {

// The taskbar lists a top-level window unless it is a tool window; the
// application-window style forces the entry. Windows reads the styles when
// the window is shown.
void SetToolWindowStyle(QWidget& window, bool listed) {
  const HWND handle = reinterpret_cast<HWND>(window.winId());
  LONG_PTR style = GetWindowLongPtrW(handle, GWL_EXSTYLE);
  style = listed ? (style & ~WS_EX_TOOLWINDOW) | WS_EX_APPWINDOW
                 : (style & ~WS_EX_APPWINDOW) | WS_EX_TOOLWINDOW;
  SetWindowLongPtrW(handle, GWL_EXSTYLE, style);
}

}  // namespace

void MarkTaskbarEntry(QWidget& window, bool listed) { SetToolWindowStyle(window, listed); }

// A shown window keeps its button until it is shown anew, so it is hidden
// for the change (without activating anything in between).
void ChangeTaskbarEntry(QWidget& window, bool listed) {
  const HWND handle = reinterpret_cast<HWND>(window.winId());
  const bool visible = IsWindowVisible(handle);
  if (visible) ShowWindow(handle, SW_HIDE);
  SetToolWindowStyle(window, listed);
  if (visible) ShowWindow(handle, SW_SHOWNA);
}

}  // namespace sentrel
