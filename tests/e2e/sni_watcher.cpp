// A desktop's StatusNotifierWatcher with a host, as small as the tests need.
//   sni_watcher watch               own the watcher; print "ready", then "item <service>" as
//                                   items register; run until stopped
//   sni_watcher items               print the running watcher's items, one a line
//   sni_watcher tooltip <service>   print the item's tool tip title
//   sni_watcher call <service> <method>   call Activate, SecondaryActivate or ContextMenu
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QObject>
#include <QStringList>
#include <cstdio>

namespace {

constexpr char kWatcherService[] = "org.kde.StatusNotifierWatcher";
constexpr char kItemPath[] = "/StatusNotifierItem";
constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";

class Watcher : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
  // Programs look at this before they show their entry through the watcher.
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ host)
  Q_PROPERTY(int ProtocolVersion READ version)

 public:
  QStringList items() const { return items_; }
  bool host() const { return true; }
  int version() const { return 0; }

 public slots:
  void RegisterStatusNotifierItem(const QString& service) {
    items_ << service;
    std::printf("item %s\n", qPrintable(service));
    std::fflush(stdout);
    emit StatusNotifierItemRegistered(service);
  }
  void RegisterStatusNotifierHost(const QString&) {}

 signals:
  void StatusNotifierItemRegistered(const QString& service);
  void StatusNotifierItemUnregistered(const QString& service);
  void StatusNotifierHostRegistered();

 private:
  QStringList items_;
};

int Fail(const QString& what) {
  std::fprintf(stderr, "sni_watcher: %s\n", qPrintable(what));
  return 1;
}

int Items() {
  QDBusMessage get = QDBusMessage::createMethodCall(kWatcherService, "/StatusNotifierWatcher",
                                                    "org.freedesktop.DBus.Properties", "Get");
  get << QString(kWatcherService) << QStringLiteral("RegisteredStatusNotifierItems");
  const QDBusMessage reply = QDBusConnection::sessionBus().call(get);
  if (reply.type() != QDBusMessage::ReplyMessage) return Fail(reply.errorMessage());
  for (const QString& item :
       reply.arguments().at(0).value<QDBusVariant>().variant().toStringList()) {
    std::printf("%s\n", qPrintable(item));
  }
  return 0;
}

int ToolTip(const QString& service) {
  QDBusMessage get = QDBusMessage::createMethodCall(
      service, kItemPath, QStringLiteral("org.freedesktop.DBus.Properties"), "Get");
  get << QString(kItemInterface) << QStringLiteral("ToolTip");
  const QDBusMessage reply = QDBusConnection::sessionBus().call(get);
  if (reply.type() != QDBusMessage::ReplyMessage) return Fail(reply.errorMessage());
  // (icon name, icon pixmaps a(iiay), title, text)
  const auto tip = reply.arguments().at(0).value<QDBusVariant>().variant().value<QDBusArgument>();
  QString icon_name, title, text;
  tip.beginStructure();
  tip >> icon_name;
  tip.beginArray();
  while (!tip.atEnd()) {
    int width = 0, height = 0;
    QByteArray pixels;
    tip.beginStructure();
    tip >> width >> height >> pixels;
    tip.endStructure();
  }
  tip.endArray();
  tip >> title >> text;
  tip.endStructure();
  std::printf("%s\n", qPrintable(title));
  return 0;
}

int Call(const QString& service, const QString& method) {
  QDBusMessage call = QDBusMessage::createMethodCall(service, kItemPath, kItemInterface, method);
  call << 5 << 5;
  const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
  return reply.type() == QDBusMessage::ReplyMessage ? 0 : Fail(reply.errorMessage());
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return Fail("no session bus: " + bus.lastError().message());
  if (args.size() == 2 && args[1] == QLatin1String("watch")) {
    Watcher watcher;
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties) ||
        !bus.registerService(kWatcherService)) {
      return Fail("cannot own the watcher: " + bus.lastError().message());
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
  }
  if (args.size() == 2 && args[1] == QLatin1String("items")) return Items();
  if (args.size() == 3 && args[1] == QLatin1String("tooltip")) return ToolTip(args[2]);
  if (args.size() == 4 && args[1] == QLatin1String("call")) return Call(args[2], args[3]);
  return Fail("usage: sni_watcher watch | items | tooltip <service> | call <service> <method>");
}

#include "sni_watcher.moc"
