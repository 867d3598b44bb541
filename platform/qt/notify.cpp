#include <QCoreApplication>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include "platform/ansi.h"
#include "platform/notify.h"
#include "platform/qt/backend.h"
#include "platform/report.h"

namespace platform {
namespace {

struct Entry {
  // Deleted later, never inside its own click signal.
  QSystemTrayIcon* tray = nullptr;
  std::uint32_t icon = 0;
  bool has_callback = false;
  std::uint32_t callback = 0;
  QString tip;
};
using Key = std::pair<std::uint32_t, std::uint32_t>;  // hWnd, uID

std::map<Key, Entry>& Entries() {
  static std::map<Key, Entry> entries;
  return entries;
}

std::uint32_t MouseCode(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      return 514;  // left button up
    case QSystemTrayIcon::DoubleClick:
      return 515;
    case QSystemTrayIcon::Context:
      return 517;  // right button up
    case QSystemTrayIcon::MiddleClick:
      return 520;
    default:
      return 0;
  }
}

void SayOnceIfNoTray() {
  static bool said = false;
  if (said || QSystemTrayIcon::isSystemTrayAvailable()) return;
  said = true;
  Report(
      "no notification area (system tray) is running on this desktop; the window works without "
      "its tray entry");
}

// A tray entry without an icon would not show at all.
QIcon Shown(const QIcon& icon) {
  if (!icon.isNull()) return icon;
  QPixmap blank(16, 16);
  blank.fill(Qt::transparent);
  return QIcon(blank);
}

void Apply(Entry& entry, const NotifyIconData& data, bool fresh) {
  if (data.uFlags & kNifMessage) {
    entry.has_callback = true;
    entry.callback = data.uCallbackMessage;
  }
  if (data.uFlags & kNifTip) {
    const QString tip = QString::fromStdWString(
        FromAnsi(std::string(data.szTip, strnlen(data.szTip, sizeof data.szTip))));
    if (fresh || tip != entry.tip) {
      entry.tip = tip;
      entry.tray->setToolTip(tip);
    }
  }
  if ((data.uFlags & kNifIcon) && (fresh || data.hIcon != entry.icon)) {
    // A handle the table does not know is kept as 0, so that releasing it later cannot take
    // a hold away from whichever icon gets that number next.
    const bool known = qt::Icons().Hold(data.hIcon);
    qt::Icons().Release(entry.icon);
    entry.icon = known ? data.hIcon : 0;
    entry.tray->setIcon(Shown(qt::Icons().Find(data.hIcon)));
  } else if (fresh) {
    entry.tray->setIcon(Shown(QIcon()));
  }
}

void Remove(std::map<Key, Entry>::iterator it) {
  it->second.tray->hide();
  it->second.tray->deleteLater();
  qt::Icons().Release(it->second.icon);
  Entries().erase(it);
}

}  // namespace

bool Shell_NotifyIconA(std::uint32_t message, NotifyIconData* data) {
  if (data == nullptr) return false;
  const Key key{data->hWnd, data->uID};
  const auto it = Entries().find(key);
  switch (message) {
    case kNimAdd: {
      if (it != Entries().end()) return false;
      SayOnceIfNoTray();
      Entry& entry = Entries()[key];
      entry.tray = new QSystemTrayIcon();
      QObject::connect(entry.tray, &QSystemTrayIcon::activated,
                       [key](QSystemTrayIcon::ActivationReason reason) {
                         const auto found = Entries().find(key);
                         const std::uint32_t code = MouseCode(reason);
                         if (found == Entries().end() || !found->second.has_callback || !code) {
                           return;
                         }
                         qt::DeliverWindowMessage(key.first, found->second.callback, code);
                       });
      Apply(entry, *data, true);
      entry.tray->show();
      return true;
    }
    case kNimModify:
      if (it == Entries().end()) return false;
      Apply(it->second, *data, false);
      return true;
    case kNimDelete:
      if (it == Entries().end()) return false;
      Remove(it);
      return true;
    default:
      return false;
  }
}

namespace qt {

void RemoveTrayEntries(std::uint32_t hwnd) {
  for (auto it = Entries().begin(); it != Entries().end();) {
    auto next = std::next(it);
    if (hwnd == 0 || it->first.first == hwnd) Remove(it);
    it = next;
  }
}

std::size_t TrayEntryCount() {
  return Entries().size();
}

}  // namespace qt
}  // namespace platform
