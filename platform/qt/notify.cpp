#include <QCoreApplication>
#include <QPixmap>
#include <QPointer>
#include <QSystemTrayIcon>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include "platform/ansi.h"
#include "platform/notify.h"
#include "platform/qt/backend.h"
#include "platform/report.h"
#include "platform/qt/notify_sni.h"

namespace platform {
namespace {

// Each entry shows through a StatusNotifierItem while a host for those is on the session bus,
// and through Qt's tray icon (XEmbed, which docks again by itself when an X tray comes back)
// otherwise. Only one of the two exists at a time, so no tray shows the entry twice.
struct Entry {
  // Both deleted later, never inside their own click.
  QSystemTrayIcon* tray = nullptr;
  qt::StatusNotifierItem* item = nullptr;
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

void Click(const Key& key, std::uint32_t code) {
  const auto found = Entries().find(key);
  if (found == Entries().end() || !found->second.has_callback || !code) return;
  qt::DeliverWindowMessage(key.first, found->second.callback, code);
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
      "its tray entry, which shows once a tray starts");
}

// A tray entry without an icon would not show at all.
QIcon Shown(std::uint32_t handle) {
  const QIcon icon = qt::Icons().Find(handle);
  if (!icon.isNull()) return icon;
  QPixmap blank(16, 16);
  blank.fill(Qt::transparent);
  return QIcon(blank);
}

void ShowTip(Entry& entry) {
  if (entry.tray) entry.tray->setToolTip(entry.tip);
  if (entry.item) entry.item->SetTip(entry.tip);
}

void ShowIcon(Entry& entry) {
  if (entry.tray) entry.tray->setIcon(Shown(entry.icon));
  if (entry.item) entry.item->SetIcon(Shown(entry.icon));
}

void Place(const Key& key, Entry& entry);

void PlaceAll() {
  for (auto& [key, entry] : Entries()) Place(key, entry);
}

qt::StatusNotifierHosts& Hosts() {
  static QPointer<qt::StatusNotifierHosts> hosts;
  if (!hosts) hosts = new qt::StatusNotifierHosts(PlaceAll, QCoreApplication::instance());
  return *hosts;
}

void Place(const Key& key, Entry& entry) {
  if (Hosts().Shown()) {
    if (!entry.item) {
      entry.item = new qt::StatusNotifierItem([key](std::uint32_t code) { Click(key, code); });
      ShowTip(entry);
      ShowIcon(entry);
    }
    entry.item->Register(Hosts().Owner());
    if (entry.tray) {
      entry.tray->hide();
      entry.tray->deleteLater();
      entry.tray = nullptr;
    }
    return;
  }
  if (entry.tray) return;
  // Qt settles on XEmbed or StatusNotifierItem for good the first time it is asked; asked
  // here, with no host for the latter, it settles on XEmbed.
  SayOnceIfNoTray();
  entry.tray = new QSystemTrayIcon();
  QObject::connect(
      entry.tray, &QSystemTrayIcon::activated,
      [key](QSystemTrayIcon::ActivationReason reason) { Click(key, MouseCode(reason)); });
  ShowTip(entry);
  ShowIcon(entry);
  entry.tray->show();
}

void Apply(Entry& entry, const NotifyIconData& data) {
  if (data.uFlags & kNifMessage) {
    entry.has_callback = true;
    entry.callback = data.uCallbackMessage;
  }
  if (data.uFlags & kNifTip) {
    const QString tip = QString::fromStdWString(
        FromAnsi(std::string(data.szTip, strnlen(data.szTip, sizeof data.szTip))));
    if (tip != entry.tip) {
      entry.tip = tip;
      ShowTip(entry);
    }
  }
  if ((data.uFlags & kNifIcon) && data.hIcon != entry.icon) {
    // A handle the table does not know is kept as 0, so that releasing it later cannot take
    // a hold away from whichever icon gets that number next.
    const bool known = qt::Icons().Hold(data.hIcon);
    qt::Icons().Release(entry.icon);
    entry.icon = known ? data.hIcon : 0;
    ShowIcon(entry);
  }
}

void Remove(std::map<Key, Entry>::iterator it) {
  if (it->second.tray) {
    it->second.tray->hide();
    it->second.tray->deleteLater();
  }
  if (it->second.item) it->second.item->deleteLater();
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
      Entry& entry = Entries()[key];
      Apply(entry, *data);
      Place(key, entry);
      return true;
    }
    case kNimModify:
      if (it == Entries().end()) return false;
      Apply(it->second, *data);
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
