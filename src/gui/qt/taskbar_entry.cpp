#include "gui/qt/taskbar_entry.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <QGuiApplication>
#include <QWidget>

namespace sentrel {

namespace {

struct FreeReply {
  void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

xcb_connection_t* Connection() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
      nullptr));
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

struct StateAtoms {
  xcb_atom_t state = XCB_ATOM_NONE;
  xcb_atom_t skipTaskbar = XCB_ATOM_NONE;
  bool Valid() const { return state != XCB_ATOM_NONE && skipTaskbar != XCB_ATOM_NONE; }
};

StateAtoms AtomsOf(xcb_connection_t* connection) {
  return {Atom(connection, "_NET_WM_STATE"), Atom(connection, "_NET_WM_STATE_SKIP_TASKBAR")};
}

}  // namespace

void MarkTaskbarEntry(QWidget& window, bool listed) {
  xcb_connection_t* connection = Connection();
  if (!connection) return;
  const StateAtoms atoms = AtomsOf(connection);
  if (!atoms.Valid()) return;
  const auto id = static_cast<xcb_window_t>(window.winId());
  // Read, change, write back: the toolkit adds its own states to the same
  // property when it maps the window, and keeps the ones it finds.
  std::vector<xcb_atom_t> states;
  const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, id, atoms.state, XCB_ATOM_ATOM, 0, 1024), nullptr));
  if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
    const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    states.assign(values, values + xcb_get_property_value_length(reply.get()) / 4);
  }
  std::erase(states, atoms.skipTaskbar);
  if (!listed) states.push_back(atoms.skipTaskbar);
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atoms.state, XCB_ATOM_ATOM, 32,
                      static_cast<uint32_t>(states.size()), states.data());
  xcb_flush(connection);
}

void ChangeTaskbarEntry(QWidget& window, bool listed) {
  if (!window.isVisible()) return;  // hidden: the next showing marks it
  xcb_connection_t* connection = Connection();
  if (!connection) return;
  const StateAtoms atoms = AtomsOf(connection);
  if (!atoms.Valid()) return;
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  if (!screen) return;
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = static_cast<xcb_window_t>(window.winId());
  message.type = atoms.state;
  message.data.data32[0] = listed ? 0 : 1;  // remove, add
  message.data.data32[1] = atoms.skipTaskbar;
  message.data.data32[3] = 1;  // asked by an ordinary application
  xcb_send_event(connection, 0, screen->root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(connection);
}

}  // namespace sentrel
