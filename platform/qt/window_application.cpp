#include <QApplication>
#include <QTime>
#include <cstdlib>
#include <string>

#include "platform/qt/backend.h"
#include "platform/qt/session_bus.h"
#include "platform/report.h"
#include "platform/window.h"

namespace platform {
namespace {

bool Set(const char* value) {
  return value != nullptr && *value != '\0';
}

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return std::string(name) + (value ? "=\"" + std::string(value) + "\"" : " unset");
}

// Qt ends the process on a fatal error (no display to connect to, the X connection lost);
// the user gets a one-line report as for any other failure instead of a core dump.
QtMessageHandler qt_handler = nullptr;
bool starting = false;
void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg) {
    if (qt_handler) qt_handler(type, context, message);
    return;
  }
  if (starting) {
    Report("cannot open the display (" + Variable("DISPLAY") + ", " + Variable("WAYLAND_DISPLAY") +
           ", " + Variable("QT_QPA_PLATFORM") + "); no window can be shown");
  } else {
    Report(message.toLocal8Bit().toStdString());
  }
  std::_Exit(1);
}

}  // namespace

namespace qt {

std::string ForcedPlatform(const std::function<const char*(const char*)>& env) {
  // Wayland lets no program place its own window; through XWayland the saved position holds.
  const char* session = env("XDG_SESSION_TYPE");
  const bool wayland =
      Set(env("WAYLAND_DISPLAY")) || (session != nullptr && std::string_view(session) == "wayland");
  if (Set(env("QT_QPA_PLATFORM")) || !wayland || !Set(env("DISPLAY"))) return "";
  return "xcb";
}

}  // namespace qt

struct Application::Impl {
  std::unique_ptr<QApplication> app;
  std::unique_ptr<qt::EndRequests> endings;
};

Application::Application(int& argc, char** argv) : impl_(std::make_unique<Impl>()) {
  impl_->endings = std::make_unique<qt::EndRequests>();
  qt::session_bus::Greet();
  const auto env = [](const char* name) -> const char* { return std::getenv(name); };
  if (const std::string forced = qt::ForcedPlatform(env); !forced.empty()) {
    qputenv("QT_QPA_PLATFORM", forced.c_str());
  }
  if (!Set(env("QT_QPA_PLATFORM")) && !Set(env("DISPLAY")) && !Set(env("WAYLAND_DISPLAY"))) {
    Report("no display to show the window on: neither DISPLAY nor WAYLAND_DISPLAY is set");
    std::exit(1);
  }
  qt_handler = qInstallMessageHandler(OnQtMessage);
  starting = true;
  impl_->app = std::make_unique<QApplication>(argc, argv);
  starting = false;
  QApplication::setApplicationName(QStringLiteral("korvi"));
  // Desktops match the window to the menu entry korvi.desktop by this name.
  QGuiApplication::setDesktopFileName(QStringLiteral("korvi"));
  // The window's close ends the run, whatever else is open then.
  QApplication::setQuitOnLastWindowClosed(false);
  impl_->endings->Listen();
  qt::session_bus::Settle();
  qt::AskTrayHosts();
}

Application::~Application() {
  impl_->endings.reset();
  qt::RemoveTrayEntries(0);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  qt::Icons().Clear();
}

std::wstring AppPath() {
  return QCoreApplication::applicationDirPath().toStdWString();
}

wchar_t PathSeparator() {
  return L'/';
}

TimeOfDay CurrentTimeOfDay() {
  const QTime now = QTime::currentTime();
  return {now.hour(), now.minute(), now.second()};
}

}  // namespace platform
