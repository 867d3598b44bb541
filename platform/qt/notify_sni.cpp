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

namespace platform::qt {
namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
// A watcher that has not answered by then is taken for no tray at all.
constexpr int kAnswerMs = 2000;

// Mouse message codes, as the window receives them from the shell.
constexpr std::uint32_t kLeftButtonUp = 514;
constexpr std::uint32_t kRightButtonUp = 517;
constexpr std::uint32_t kMiddleButtonUp = 520;

void RegisterTypes() {
  static const bool registered = [] {
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<SniPixmaps>();
    qDBusRegisterMetaType<SniToolTip>();
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

StatusNotifierItem::StatusNotifierItem(std::function<void(std::uint32_t)> click)
    : click_(std::move(click)),
      service_(QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                   .arg(QCoreApplication::applicationPid())
                   .arg(++item_count)),
      bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, service_)) {
  RegisterTypes();
  bus_.registerObject(kItemPath, this,
                      QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                          QDBusConnection::ExportAllProperties);
  bus_.registerService(service_);
}

StatusNotifierItem::~StatusNotifierItem() {
  bus_.unregisterService(service_);
  bus_.unregisterObject(kItemPath);
  QDBusConnection::disconnectFromBus(service_);
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
  call << service_;
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
    : QObject(parent), bus_(QDBusConnection::sessionBus()) {
  if (!bus_.isConnected()) return;
  auto* watch =
      new QDBusServiceWatcher(kWatcher, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
  connect(watch, &QDBusServiceWatcher::serviceOwnerChanged, this, &StatusNotifierHosts::Ask);
  // A desktop may own the watcher a moment before its host has registered.
  bus_.connect(kWatcher, kWatcherPath, kWatcher, QStringLiteral("StatusNotifierHostRegistered"),
               this, SLOT(Ask()));
  // The first entry goes where the first answer says, at once, as with Qt's own first look.
  Question()->waitForFinished();
  changed_ = std::move(changed);
}

void StatusNotifierHosts::Ask() {
  Question();
}

QDBusPendingCallWatcher* StatusNotifierHosts::Question() {
  QDBusMessage get = QDBusMessage::createMethodCall(
      kWatcher, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("Get"));
  get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
  const unsigned question = ++asked_;
  auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(get, kAnswerMs), this);
  connect(pending, &QDBusPendingCallWatcher::finished, this,
          [this, question](QDBusPendingCallWatcher* done) {
            done->deleteLater();
            Answer(done->reply(), question);
          });
  return pending;
}

void StatusNotifierHosts::Answer(const QDBusMessage& reply, unsigned question) {
  if (question != asked_) return;  // a later question is on its way
  const bool shown = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                     reply.arguments().first().value<QDBusVariant>().variant().toBool();
  // The owner's unique name tells a restarted watcher from the one already told.
  const QString owner = shown ? reply.service() : QString();
  if (owner == owner_) return;
  owner_ = owner;
  if (changed_) changed_();
}

}  // namespace platform::qt
