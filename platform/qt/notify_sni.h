#pragma once
// A tray entry as a StatusNotifierItem on the session bus, for the trays that show only those
// (KDE Plasma, GNOME's AppIndicator extension, waybar, xfce4-panel), and the watch for the
// StatusNotifierWatcher those trays own, followed for as long as korvi runs: started before its
// tray, korvi still shows its entry there.

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QIcon>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <optional>

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

// A menu item as the menu protocol carries it: (id, properties), and the layout of a menu,
// (id, properties, children).
struct MenuItem {
  int id = 0;
  QVariantMap properties;
};
using MenuItems = QList<MenuItem>;
struct MenuLayout {
  int id = 0;
  QVariantMap properties;
  QList<QDBusVariant> children;
};
QDBusArgument& operator<<(QDBusArgument& out, const MenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuItem& item);
QDBusArgument& operator<<(QDBusArgument& out, const MenuLayout& layout);
const QDBusArgument& operator>>(const QDBusArgument& in, MenuLayout& layout);

}  // namespace platform::qt

class QDBusPendingCallWatcher;

Q_DECLARE_METATYPE(platform::qt::SniPixmap)
Q_DECLARE_METATYPE(platform::qt::SniToolTip)
Q_DECLARE_METATYPE(platform::qt::MenuItem)
Q_DECLARE_METATYPE(platform::qt::MenuLayout)

namespace platform::qt {

// The menu that the entry names: empty, as the entry has no menu, but served, so that a host
// that fetches a menu on a right click gets one. GNOME's AppIndicator host shows no entry that
// names no menu ("/NO_DBUSMENU" counts as none there).
class EmptyMenu : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
  Q_PROPERTY(uint Version READ Version)
  Q_PROPERTY(QString TextDirection READ TextDirection)
  Q_PROPERTY(QString Status READ Status)
  Q_PROPERTY(QStringList IconThemePath READ IconThemePath)

 public:
  using QObject::QObject;
  uint Version() const { return 3; }
  QString TextDirection() const { return QStringLiteral("ltr"); }
  QString Status() const { return QStringLiteral("normal"); }
  QStringList IconThemePath() const { return {}; }

 public slots:
  uint GetLayout(int parent, int depth, const QStringList& names, platform::qt::MenuLayout& layout);
  platform::qt::MenuItems GetGroupProperties(const QList<int>& ids, const QStringList& names);
  QDBusVariant GetProperty(int id, const QString& name);
  void Event(int id, const QString& event, const QDBusVariant& data, uint timestamp);
  bool AboutToShow(int id);

 signals:
  void LayoutUpdated(uint revision, int parent);
};

// One entry, on a bus connection of its own so that each entry has its own bus name and the
// object path every host looks at.
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
  QDBusObjectPath Menu() const;

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
  QString connection_;
  QDBusConnection bus_;
  EmptyMenu menu_;
  QString registered_with_;
  SniPixmaps icon_;
  QString tip_;
};

// Whether a StatusNotifierWatcher with a host is on the session bus, followed as watchers
// come, go and are replaced. Every question is asked without waiting; `changed` runs after
// every change of the answer.
class StatusNotifierHosts : public QObject {
  Q_OBJECT

 public:
  StatusNotifierHosts(std::function<void()> changed, QObject* parent);
  // The bus has told whether a host shows entries: the watcher answered, or there is none.
  bool Known() const;
  // A watcher is there and a host shows what registers with it.
  bool Shown() const { return !owner_.isEmpty(); }
  // The watcher's unique bus name, or "" when no host shows entries.
  const QString& Owner() const { return owner_; }
  // Takes in an answer that has come but waits for the event loop; waits for none.
  void TakeAnswer();

 private slots:
  void Ask();

 private:
  void Answer(const QDBusMessage& reply, unsigned question);

  std::function<void()> changed_;
  std::optional<QDBusConnection> bus_;
  QPointer<QDBusPendingCallWatcher> pending_;
  bool known_ = false;
  QString owner_;
  unsigned asked_ = 0;
};

}  // namespace platform::qt
