#include <QGuiApplication>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <xcb/xcb.h>

#include "platform/qt/backend.h"
#include "platform/qt/window_form.h"

namespace platform::qt {

xcb_connection_t* X11() {
  const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->connection() : nullptr;
}

std::uint32_t X11Atom(const char* name) {
  xcb_connection_t* connection = X11();
  const auto cookie =
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  const xcb_atom_t found = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  free(reply);
  return found;
}

void SkipTaskBar(WId window) {
  xcb_connection_t* connection = X11();
  if (connection == nullptr) return;
  const xcb_atom_t state = X11Atom("_NET_WM_STATE");
  const xcb_atom_t skip[] = {X11Atom("_NET_WM_STATE_SKIP_TASKBAR"),
                             X11Atom("_NET_WM_STATE_SKIP_PAGER")};
  if (state == XCB_ATOM_NONE || skip[0] == XCB_ATOM_NONE || skip[1] == XCB_ATOM_NONE) return;
  xcb_change_property(connection, XCB_PROP_MODE_APPEND, static_cast<xcb_window_t>(window), state,
                      XCB_ATOM_ATOM, 32, 2, skip);
  xcb_flush(connection);
}

std::optional<QPoint> ServerPosition(WId window) {
  xcb_connection_t* connection = X11();
  if (connection == nullptr) return std::nullopt;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  const auto cookie =
      xcb_translate_coordinates(connection, static_cast<xcb_window_t>(window), root, 0, 0);
  xcb_translate_coordinates_reply_t* reply =
      xcb_translate_coordinates_reply(connection, cookie, nullptr);
  if (reply == nullptr) return std::nullopt;
  const QPoint where(reply->dst_x, reply->dst_y);
  std::free(reply);
  return where;
}

}  // namespace platform::qt
