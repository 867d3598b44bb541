#pragma once
// A tray entry as a StatusNotifierItem on the session bus, for the trays that show only those
// (KDE Plasma, GNOME's AppIndicator extension, waybar, xfce4-panel), and the watch for the
// StatusNotifierWatcher those trays own.
//
// Qt's own QSystemTrayIcon decides between StatusNotifierItem and XEmbed once per process, the
// first time it is asked, so a program started before its tray would never show an entry
// there. These two classes follow the watcher for as long as the program runs instead.

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QIcon>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

class QDBusPendingCallWatcher;

namespace platform::qt {

// (width, height, ARGB32 in network byte order), as the protocol carries an image.
struct SniPixmap {
  int width = 0;
  int height = 0;
  QByteArray argb;
};
using SniPixmaps = QList<SniPixmap>;
// (icon name, icon, title, text).
struct SniToolTip {
  QString icon_name;
  SniPixmaps icon;
  QString title;
  QString text;
};
QDBusArgument& operator<<(QDBusArgument& out, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& in, SniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& out, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& in, SniToolTip& tip);

}  // namespace platform::qt

Q_DECLARE_METATYPE(platform::qt::SniPixmap)
Q_DECLARE_METATYPE(platform::qt::SniToolTip)

namespace platform::qt {

// One entry, on a bus connection of its own so that each entry has its own service name and
// the object path every host looks at.
class StatusNotifierItem : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
  Q_PROPERTY(QString Category READ Category)
  Q_PROPERTY(QString Id READ Id)
  Q_PROPERTY(QString Title READ Id)
  Q_PROPERTY(QString Status READ Status)
  Q_PROPERTY(bool ItemIsMenu READ ItemIsMenu)
  Q_PROPERTY(QString IconName READ IconName)
  Q_PROPERTY(platform::qt::SniPixmaps IconPixmap READ IconPixmap)
  Q_PROPERTY(platform::qt::SniToolTip ToolTip READ ToolTip)
  Q_PROPERTY(QDBusObjectPath Menu READ Menu)

 public:
  // `click` receives the mouse message code of each activation (514, 517 or 520).
  explicit StatusNotifierItem(std::function<void(std::uint32_t)> click);
  ~StatusNotifierItem() override;

  void SetIcon(const QIcon& icon);
  void SetTip(const QString& tip);
  // Tells the watcher whose bus name is `owner` about this entry, once per watcher.
  void Register(const QString& owner);

  QString Category() const { return QStringLiteral("ApplicationStatus"); }
  QString Id() const;
  QString Status() const { return QStringLiteral("Active"); }
  bool ItemIsMenu() const { return false; }
  QString IconName() const { return {}; }
  SniPixmaps IconPixmap() const { return icon_; }
  SniToolTip ToolTip() const { return {{}, {}, tip_, {}}; }
  // The entry has no menu, but GNOME's AppIndicator host shows only entries that name one
  // ("/NO_DBUSMENU" counts as none there); a right click still reaches ContextMenu.
  QDBusObjectPath Menu() const { return QDBusObjectPath(QStringLiteral("/MenuBar")); }

 public slots:
  // A host calls these for a left click, a middle click and a right click.
  void Activate(int x, int y);
  void SecondaryActivate(int x, int y);
  void ContextMenu(int x, int y);
  void Scroll(int delta, const QString& orientation);

 signals:
  void NewIcon();
  void NewToolTip();

 private:
  std::function<void(std::uint32_t)> click_;
  QString service_;
  QDBusConnection bus_;
  QString registered_with_;
  SniPixmaps icon_;
  QString tip_;
};

// Whether a StatusNotifierWatcher with a host is on the session bus, followed as watchers
// come, go and are replaced. `changed` runs after every change.
class StatusNotifierHosts : public QObject {
  Q_OBJECT

 public:
  StatusNotifierHosts(std::function<void()> changed, QObject* parent);
  // A watcher is there and a host shows what registers with it.
  bool Shown() const { return !owner_.isEmpty(); }
  // The watcher's unique bus name, or "" when no host shows entries.
  const QString& Owner() const { return owner_; }

 private slots:
  void Ask();

 private:
  QDBusPendingCallWatcher* Question();
  void Answer(const QDBusMessage& reply, unsigned question);

  std::function<void()> changed_;
  QDBusConnection bus_;
  QString owner_;
  unsigned asked_ = 0;
};

}  // namespace platform::qt
