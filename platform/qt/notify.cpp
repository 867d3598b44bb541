#include <QCoreApplication>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include "platform/ansi.h"
#include "platform/notify.h"
#include "platform/qt/backend.h"
#include "platform/qt/notify_sni.h"
#include "platform/qt/notify_xembed.h"
#include "platform/report.h"

namespace platform {
namespace {

// Each entry shows through a StatusNotifierItem while a host for those is on the session bus,
// and through XEmbed (which docks again by itself when an X tray comes back) otherwise, and
// while the bus has not told yet. Only one of the two exists at a time, so no tray shows the
// entry twice.
struct Entry {
  // Both deleted later, never inside their own click.
  qt::XEmbedEntry* tray = nullptr;
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

void SayOnceIfNoTray() {
  static bool said = false;
  if (said || qt::XEmbedEntry::TrayShown()) return;
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
  if (entry.tray) entry.tray->SetTip(entry.tip);
  if (entry.item) entry.item->SetTip(entry.tip);
}

void ShowIcon(Entry& entry) {
  if (entry.tray) entry.tray->SetIcon(Shown(entry.icon));
  if (entry.item) entry.item->SetIcon(Shown(entry.icon));
}

void Place(const Key& key, Entry& entry);
bool grace_over = false;

void PlaceAll() {
  for (auto& [key, entry] : Entries()) Place(key, entry);
}

// A watcher normally answers within milliseconds; one that has not by then is slow (a desktop
// still starting), and the entry goes to an X tray meanwhile.
constexpr int kWatcherGraceMs = 300;

qt::StatusNotifierHosts& Hosts() {
  static QPointer<qt::StatusNotifierHosts> hosts;
  if (!hosts) {
    hosts = new qt::StatusNotifierHosts(PlaceAll, QCoreApplication::instance());
    QTimer::singleShot(kWatcherGraceMs, hosts, [] {
      grace_over = true;
      PlaceAll();
    });
  }
  return *hosts;
}

void Place(const Key& key, Entry& entry) {
  // Asked at start-up, the watcher has mostly answered by the time the window adds its entry.
  if (!Hosts().Known()) Hosts().TakeAnswer();
  if (!Hosts().Known() && !grace_over) return;
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
  SayOnceIfNoTray();
  entry.tray = new qt::XEmbedEntry([key](std::uint32_t code) { Click(key, code); });
  ShowTip(entry);
  ShowIcon(entry);
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

void AskTrayHosts() {
  Hosts();
}

void ClickTrayEntry(std::uint32_t hwnd, std::uint32_t id, std::uint32_t code) {
  Click({hwnd, id}, code);
}

}  // namespace qt
}  // namespace platform
