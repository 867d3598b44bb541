#include "platform/qt/notify_xembed.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include <xcb/xcb.h>

#include "platform/qt/backend.h"

namespace platform::qt {
namespace {

constexpr std::uint32_t kRequestDock = 0;  // the tray protocol's opcode
constexpr int kSide = 22;                  // what trays ask of an entry before they resize it

// The X tray of the first screen: whoever owns its selection, followed as trays come and go.
class XTray final : public QAbstractNativeEventFilter {
 public:
  // nullptr where korvi does not run on X.
  static XTray* Get() {
    static XTray* tray = X11() ? new XTray : nullptr;
    return tray;
  }

  xcb_window_t Owner() const { return owner_; }
  void Add(XEmbedEntry* entry) { entries_.push_back(entry); }
  void Remove(XEmbedEntry* entry) { std::erase(entries_, entry); }

  // Whether the tray draws its entries with an alpha channel, so that an entry may be
  // transparent; otherwise it shows the tray's own background through a window of its own.
  bool Translucent() const {
    if (owner_ == XCB_WINDOW_NONE) return false;
    const auto cookie = xcb_get_property(x_, 0, owner_, visual_atom_, XCB_ATOM_VISUALID, 0, 1);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(x_, cookie, nullptr);
    xcb_visualid_t visual = 0;
    if (reply && xcb_get_property_value_length(reply) == 4) {
      visual = *static_cast<xcb_visualid_t*>(xcb_get_property_value(reply));
    }
    std::free(reply);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x_)).data;
    for (auto depth = xcb_screen_allowed_depths_iterator(screen); depth.rem;
         xcb_depth_next(&depth)) {
      for (auto type = xcb_depth_visuals_iterator(depth.data); type.rem;
           xcb_visualtype_next(&type)) {
        if (type.data->visual_id == visual) return depth.data->depth == 32;
      }
    }
    return false;
  }

  void Dock(xcb_window_t window) const {
    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = owner_;
    request.type = opcode_atom_;
    request.data.data32[0] = XCB_CURRENT_TIME;
    request.data.data32[1] = kRequestDock;
    request.data.data32[2] = window;
    xcb_send_event(x_, 0, owner_, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&request));
  }

  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const std::uint8_t kind = event->response_type & 0x7f;
    if (kind == XCB_CLIENT_MESSAGE) {
      // A new tray announces itself to every client through the root window.
      const auto* told = reinterpret_cast<const xcb_client_message_event_t*>(event);
      if (told->window != root_ || told->type != manager_atom_ ||
          told->data.data32[1] != selection_atom_) {
        return false;
      }
    } else if (kind != XCB_DESTROY_NOTIFY ||
               reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window != owner_) {
      return false;
    }
    Follow();
    for (XEmbedEntry* entry : std::vector(entries_)) entry->TrayChanged();
    return false;
  }

 private:
  XTray()
      : x_(X11()),
        root_(xcb_setup_roots_iterator(xcb_get_setup(x_)).data->root),
        selection_atom_(X11Atom("_NET_SYSTEM_TRAY_S0")),
        opcode_atom_(X11Atom("_NET_SYSTEM_TRAY_OPCODE")),
        manager_atom_(X11Atom("MANAGER")),
        visual_atom_(X11Atom("_NET_SYSTEM_TRAY_VISUAL")) {
    // A tray's announcement reaches the clients that watch the root window's structure.
    Watch(root_);
    Follow();
    QCoreApplication::instance()->installNativeEventFilter(this);
  }

  void Watch(xcb_window_t window) const {
    const auto cookie = xcb_get_window_attributes(x_, window);
    xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(x_, cookie, nullptr);
    if (reply == nullptr) return;  // gone already
    const std::uint32_t mask = reply->your_event_mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    std::free(reply);
    xcb_change_window_attributes(x_, window, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x_);
  }

  // Reads who owns the tray now, and watches for its end.
  void Follow() {
    const auto cookie = xcb_get_selection_owner(x_, selection_atom_);
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(x_, cookie, nullptr);
    owner_ = reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
    std::free(reply);
    if (owner_ != XCB_WINDOW_NONE) Watch(owner_);
  }

  xcb_connection_t* x_;
  xcb_window_t root_;
  xcb_atom_t selection_atom_, opcode_atom_, manager_atom_, visual_atom_;
  xcb_window_t owner_ = XCB_WINDOW_NONE;
  std::vector<XEmbedEntry*> entries_;
};

}  // namespace

XEmbedEntry::XEmbedEntry(std::function<void(std::uint32_t)> click)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint),
      click_(std::move(click)) {
  // Qt's X11 backend maps a window of this name only once the tray has taken it in: mapped on
  // the root window first, trayer sized the entry one pixel wide.
  setObjectName(QStringLiteral("QSystemTrayIconSys"));
  setAttribute(Qt::WA_AlwaysShowToolTips);
  setAttribute(Qt::WA_QuitOnClose, false);
  setGeometry(0, 0, kSide, kSide);
  // Trays that fit their width to their entries read it from here.
  setMinimumSize(kSide, kSide);
  if (XTray* tray = XTray::Get()) {
    tray->Add(this);
    TrayChanged();
  }
}

XEmbedEntry::~XEmbedEntry() {
  if (XTray* tray = XTray::Get()) tray->Remove(this);
}

bool XEmbedEntry::TrayShown() {
  const XTray* tray = XTray::Get();
  return tray && tray->Owner() != XCB_WINDOW_NONE;
}

void XEmbedEntry::TrayChanged() {
  // A tray that ends hands its entries back to the root window, where they would stay mapped;
  // the next tray may draw with or without alpha, which the window is made with.
  if (testAttribute(Qt::WA_WState_Created)) {
    hide();
    destroy();
  }
  background_ = QPixmap();
  const XTray* tray = XTray::Get();
  if (tray == nullptr || tray->Owner() == XCB_WINDOW_NONE) return;
  const bool translucent = tray->Translucent();
  setAttribute(Qt::WA_TranslucentBackground, translucent);
  const auto window = static_cast<xcb_window_t>(winId());
  if (!translucent) {
    const std::uint32_t parent_relative = XCB_BACK_PIXMAP_PARENT_RELATIVE;
    xcb_change_window_attributes(X11(), window, XCB_CW_BACK_PIXMAP, &parent_relative);
  }
  tray->Dock(window);
  show();
}

void XEmbedEntry::SetIcon(const QIcon& icon) {
  icon_ = icon;
  update();
}

void XEmbedEntry::SetTip(const QString& tip) {
  setToolTip(tip);
}

void XEmbedEntry::paintEvent(QPaintEvent*) {
  const QRect area = rect();
  QPainter painter(this);
  if (testAttribute(Qt::WA_TranslucentBackground)) {
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(area, Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  } else {
    if (background_.size() != area.size()) {
      // The X server draws the tray's background into the window; what it drew is kept.
      const auto window = static_cast<xcb_window_t>(winId());
      xcb_clear_area(X11(), 0, window, 0, 0, 0, 0);
      background_ = screen()->grabWindow(winId(), 0, 0, area.width(), area.height());
    }
    painter.drawPixmap(0, 0, background_);
  }
  icon_.paint(&painter, area);
}

void XEmbedEntry::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  update();
}

void XEmbedEntry::mouseReleaseEvent(QMouseEvent* event) {
  switch (event->button()) {
    case Qt::LeftButton:
      click_(514);
      break;
    case Qt::RightButton:
      click_(517);
      break;
    case Qt::MiddleButton:
      click_(520);
      break;
    default:
      break;
  }
}

void XEmbedEntry::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) click_(515);
}

}  // namespace platform::qt
