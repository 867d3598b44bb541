// Notifications through the desktop's notification service (org.freedesktop.Notifications on
// the session bus: GNOME Shell, KDE Plasma, xfce4-notifyd, mako, dunst). Nothing is asked of
// the bus until the first notification, and no call waits for its answer.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QVariantMap>
#include <optional>
#include <utility>

#include "platform/notify.h"
#include "platform/qt/backend.h"
#include "platform/qt/session_bus.h"
#include "platform/report.h"

namespace platform::qt {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
constexpr int kAnswerMs = 25000;
constexpr int kIconSide = 48;  // what the services draw beside the text

// The "image-data" hint: an icon's pixels, RGBA, row by row.
struct ImageData {
  int width = 0, height = 0, row = 0;
  bool alpha = true;
  int bits = 8, channels = 4;
  QByteArray pixels;
};

QDBusArgument& operator<<(QDBusArgument& out, const ImageData& image) {
  out.beginStructure();
  out << image.width << image.height << image.row << image.alpha << image.bits << image.channels
      << image.pixels;
  out.endStructure();
  return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, ImageData& image) {
  in.beginStructure();
  in >> image.width >> image.height >> image.row >> image.alpha >> image.bits >> image.channels >>
      image.pixels;
  in.endStructure();
  return in;
}

}  // namespace
}  // namespace platform::qt

Q_DECLARE_METATYPE(platform::qt::ImageData)

namespace platform::qt {
namespace {

struct Bubble {
  std::uint32_t hwnd, id;
  QString title, text;
  ImageData icon;
};

// korvi's one notification, replaced by each new one: the service numbers it on the first
// answer, and a click on it (its default action) comes back as a signal to the connection that
// sent it, for as long as that connection stays.
class Notifications final : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;

  void Show(Bubble bubble) {
    next_ = std::move(bubble);
    if (!session_bus::Answered()) {
      SayOnce(session_bus::Absent() ? "there is no session bus" : "the session bus is silent");
    }
    if (!asking_) Send();
  }

 public slots:
  void ActionInvoked(uint id, const QString& action) {
    if (id != 0 && id == shown_id_ && action == QLatin1String("default")) {
      ClickTrayEntry(shown_.first, shown_.second, 514);  // as a left click on the entry
    }
  }

 private:
  // One call at a time: the next waits for the number that it replaces.
  void Send() {
    asking_ = true;
    session_bus::WhenAnswered(this, [this](QDBusConnection bus) {
      if (!next_) {
        asking_ = false;
        return;
      }
      if (!subscribed_) {
        subscribed_ = bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                                  SLOT(ActionInvoked(uint, QString)));
      }
      const Bubble bubble = *std::exchange(next_, std::nullopt);
      QDBusMessage notify = QDBusMessage::createMethodCall(kService, kPath, kService,
                                                           QStringLiteral("Notify"));
      const QVariantMap hints{{QStringLiteral("image-data"), QVariant::fromValue(bubble.icon)},
                              {QStringLiteral("desktop-entry"), QStringLiteral("korvi")}};
      notify << QStringLiteral("korvi") << shown_id_ << QString() << bubble.title
             << bubble.text.toHtmlEscaped()
             << QStringList{QStringLiteral("default"), QStringLiteral("Show korvi")} << hints
             << -1;
      auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(notify, kAnswerMs), this);
      connect(pending, &QDBusPendingCallWatcher::finished, this,
              [this, bubble](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                const QDBusMessage reply = done->reply();
                if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                  shown_id_ = reply.arguments().first().toUInt();
                  shown_ = {bubble.hwnd, bubble.id};
                } else {
                  SayOnce(reply.errorName() + ": " + reply.errorMessage());
                }
                asking_ = false;
                if (next_) Send();
              });
    });
  }

  void SayOnce(const QString& why) {
    if (said_) return;
    said_ = true;
    Report("no desktop notification service answered (" + why.toStdString() +
           "); changes show only in the window and the tray entry");
  }

  std::optional<Bubble> next_;
  bool asking_ = false;
  bool subscribed_ = false;
  bool said_ = false;
  uint shown_id_ = 0;
  std::pair<std::uint32_t, std::uint32_t> shown_;
};

ImageData Picture(std::uint32_t handle) {
  const QImage image = Icons()
                           .Find(handle)
                           .pixmap(QSize(kIconSide, kIconSide), 1.0)
                           .toImage()
                           .convertToFormat(QImage::Format_RGBA8888);
  return {image.width(),
          image.height(),
          static_cast<int>(image.bytesPerLine()),
          true,
          8,
          4,
          QByteArray(reinterpret_cast<const char*>(image.constBits()),
                     static_cast<qsizetype>(image.sizeInBytes()))};
}

}  // namespace
}  // namespace platform::qt

namespace platform {

void ShowNotification(std::uint32_t hWnd, std::uint32_t uID, const std::wstring& title,
                      const std::wstring& text, std::uint32_t hIcon) {
  static const bool registered = (qDBusRegisterMetaType<qt::ImageData>(), true);
  (void)registered;
  static QPointer<qt::Notifications> notifications;
  if (!notifications) notifications = new qt::Notifications(QCoreApplication::instance());
  notifications->Show({hWnd, uID, QString::fromStdWString(title), QString::fromStdWString(text),
                       qt::Picture(hIcon)});
}

}  // namespace platform

#include "notify_desktop.moc"
