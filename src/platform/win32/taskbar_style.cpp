#include "platform/taskbar_style.h"

#include <windows.h>

namespace sentrel {

void SetTaskbarStyle(std::uintptr_t window, bool listed, bool whileShown) {
  const HWND handle = reinterpret_cast<HWND>(window);
  const bool hide = whileShown && IsWindowVisible(handle);
  if (hide) ShowWindow(handle, SW_HIDE);
  LONG_PTR style = GetWindowLongPtrW(handle, GWL_EXSTYLE);
  style = listed ? (style & ~WS_EX_TOOLWINDOW) | WS_EX_APPWINDOW
                 : (style & ~WS_EX_APPWINDOW) | WS_EX_TOOLWINDOW;
  SetWindowLongPtrW(handle, GWL_EXSTYLE, style);
  if (hide) ShowWindow(handle, SW_SHOWNA);
}

}  // namespace sentrel
