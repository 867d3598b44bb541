#include "platform/qt/notify_sni.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QImage>
#include <QPixmap>
#include <QtEndian>
#include <utility>

#include "platform/qt/session_bus.h"

namespace platform::qt {
namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");
// A watcher that has not answered by then is asked again: one busy at login answers late, and
// until it does, the entry goes to an X tray where there is one.
constexpr int kAnswerMs = 25000;

// Mouse message codes, as the window receives them from the shell.
constexpr std::uint32_t kLeftButtonUp = 514;
constexpr std::uint32_t kRightButtonUp = 517;
constexpr std::uint32_t kMiddleButtonUp = 520;

void RegisterTypes() {
  static const bool registered = [] {
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<SniPixmaps>();
    qDBusRegisterMetaType<SniToolTip>();
    qDBusRegisterMetaType<MenuItem>();
    qDBusRegisterMetaType<MenuItems>();
    qDBusRegisterMetaType<MenuLayout>();
    return true;
  }();
  (void)registered;
}

// Every size the icon holds, so that each host picks the one it draws.
SniPixmaps Pixmaps(const QIcon& icon) {
  SniPixmaps pixmaps;
  for (const QSize& size : icon.availableSizes()) {
    const QImage image = icon.pixmap(size, 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
    SniPixmap pixmap{image.width(), image.height(),
                     QByteArray(static_cast<qsizetype>(image.width()) * image.height() * 4, 0)};
    auto* to = reinterpret_cast<uchar*>(pixmap.argb.data());
    for (int y = 0; y < image.height(); ++y) {
      const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
      for (int x = 0; x < image.width(); ++x, to += 4) qToBigEndian<quint32>(line[x], to);
    }
    pixmaps << pixmap;
  }
  return pixmaps;
}

int item_count = 0;

}  // namespace

QDBusArgument& operator<<(QDBusArgument& out, const SniPixmap& pixmap) {
  out.beginStructure();
  out << pixmap.width << pixmap.height << pixmap.argb;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, SniPixmap& pixmap) {
  in.beginStructure();
  in >> pixmap.width >> pixmap.height >> pixmap.argb;
  in.endStructure();
  return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const SniToolTip& tip) {
  out.beginStructure();
  out << tip.icon_name << tip.icon << tip.title << tip.text;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, SniToolTip& tip) {
  in.beginStructure();
  in >> tip.icon_name >> tip.icon >> tip.title >> tip.text;
  in.endStructure();
  return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const MenuItem& item) {
  out.beginStructure();
  out << item.id << item.properties;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, MenuItem& item) {
  in.beginStructure();
  in >> item.id >> item.properties;
  in.endStructure();
  return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const MenuLayout& layout) {
  out.beginStructure();
  out << layout.id << layout.properties << layout.children;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, MenuLayout& layout) {
  in.beginStructure();
  in >> layout.id >> layout.properties >> layout.children;
  in.endStructure();
  return in;
}

namespace {
// The menu's one item, its root, opens a submenu that holds nothing.
QVariantMap RootProperties() {
  return {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
}
}  // namespace

uint EmptyMenu::GetLayout(int, int, const QStringList&, MenuLayout& layout) {
  layout = {0, RootProperties(), {}};
  return 1;  // the layout's revision, which never changes
}

MenuItems EmptyMenu::GetGroupProperties(const QList<int>& ids, const QStringList&) {
  if (!ids.isEmpty() && !ids.contains(0)) return {};
  return {{0, RootProperties()}};
}

QDBusVariant EmptyMenu::GetProperty(int, const QString& name) {
  return QDBusVariant(RootProperties().value(name, QString()));
}

void EmptyMenu::Event(int, const QString&, const QDBusVariant&, uint) {}

bool EmptyMenu::AboutToShow(int) {
  return false;  // nothing to update
}

StatusNotifierItem::StatusNotifierItem(std::function<void(std::uint32_t)> click)
    : click_(std::move(click)),
      connection_(QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                      .arg(QCoreApplication::applicationPid())
                      .arg(++item_count)),
      bus_(session_bus::Connect(connection_)) {
  RegisterTypes();
  const auto exported = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                        QDBusConnection::ExportAllProperties;
  bus_.registerObject(kItemPath, this, exported);
  bus_.registerObject(kMenuPath, &menu_, exported);
}

StatusNotifierItem::~StatusNotifierItem() {
  // Nothing to ask and wait for on the way out: the connection's end ends the entry.
  bus_.unregisterObject(kMenuPath);
  bus_.unregisterObject(kItemPath);
  QDBusConnection::disconnectFromBus(connection_);
}

QDBusObjectPath StatusNotifierItem::Menu() const {
  return QDBusObjectPath(kMenuPath);
}

QString StatusNotifierItem::Id() const {
  return QCoreApplication::applicationName();
}

void StatusNotifierItem::SetIcon(const QIcon& icon) {
  icon_ = Pixmaps(icon);
  emit NewIcon();
}

void StatusNotifierItem::SetTip(const QString& tip) {
  tip_ = tip;
  emit NewToolTip();
}

void StatusNotifierItem::Register(const QString& owner) {
  // A watcher forgets every entry when it ends; a new one learns them again.
  if (owner == registered_with_) return;
  registered_with_ = owner;
  QDBusMessage call = QDBusMessage::createMethodCall(owner, kWatcherPath, kWatcher,
                                                     QStringLiteral("RegisterStatusNotifierItem"));
  // By the connection's own unique name, which no one else can take or give up: registered by
  // a well-known name, GNOME's AppIndicator host watched the name while it first read the
  // entry, and in about a third of its starts dropped the entry for good.
  call << bus_.baseService();
  bus_.send(call);
}

void StatusNotifierItem::Activate(int, int) {
  click_(kLeftButtonUp);
}

void StatusNotifierItem::SecondaryActivate(int, int) {
  click_(kMiddleButtonUp);
}

void StatusNotifierItem::ContextMenu(int, int) {
  click_(kRightButtonUp);
}

void StatusNotifierItem::Scroll(int, const QString&) {}

StatusNotifierHosts::StatusNotifierHosts(std::function<void()> changed, QObject* parent)
    : QObject(parent), changed_(std::move(changed)) {
  session_bus::WhenAnswered(this, [this](QDBusConnection bus) {
    bus_ = bus;
    auto* watch =
        new QDBusServiceWatcher(kWatcher, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watch, &QDBusServiceWatcher::serviceOwnerChanged, this, &StatusNotifierHosts::Ask);
    // A desktop may own the watcher a moment before its host has registered.
    bus.connect(kWatcher, kWatcherPath, kWatcher, QStringLiteral("StatusNotifierHostRegistered"),
                this, SLOT(Ask()));
    Ask();
  });
}

void StatusNotifierHosts::TakeAnswer() {
  // The reply reaches the watcher as a queued call, delivered here if it is in.
  if (pending_) QCoreApplication::sendPostedEvents(pending_, QEvent::MetaCall);
}

bool StatusNotifierHosts::Known() const {
  return known_ || session_bus::Absent();
}

void StatusNotifierHosts::Ask() {
  QDBusMessage get = QDBusMessage::createMethodCall(
      kWatcher, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("Get"));
  get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
  const unsigned question = ++asked_;
  auto* pending = new QDBusPendingCallWatcher(bus_->asyncCall(get, kAnswerMs), this);
  pending_ = pending;
  connect(pending, &QDBusPendingCallWatcher::finished, this,
          [this, question](QDBusPendingCallWatcher* done) {
            done->deleteLater();
            Answer(done->reply(), question);
          });
}

void StatusNotifierHosts::Answer(const QDBusMessage& reply, unsigned question) {
  if (question != asked_) return;  // a later question is on its way
  if (reply.type() == QDBusMessage::ErrorMessage &&
      (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
       reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.Timeout"))) {
    Ask();  // a watcher that is there but busy
    return;
  }
  const bool shown = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                     reply.arguments().first().value<QDBusVariant>().variant().toBool();
  // The owner's unique name tells a restarted watcher from the one already told.
  const QString owner = shown ? reply.service() : QString();
  if (known_ && owner == owner_) return;
  known_ = true;
  owner_ = owner;
  changed_();
}

}  // namespace platform::qt
