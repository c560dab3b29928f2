#include "gui/qt/window_origin.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

#include <QGuiApplication>
#include <QWidget>

namespace sentrel {

std::optional<QPoint> ClientOrigin(const QWidget& window) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
  if (!connection || !window.isVisible() || !window.internalWinId()) return std::nullopt;
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  if (!screen) return std::nullopt;
  const auto id = static_cast<xcb_window_t>(window.internalWinId());
  std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> reply(
      xcb_translate_coordinates_reply(connection,
                                      xcb_translate_coordinates(connection, id, screen->root, 0, 0),
                                      nullptr),
      &std::free);
  if (!reply) return std::nullopt;
  return QPoint(reply->dst_x, reply->dst_y);
}

}  // namespace sentrel
