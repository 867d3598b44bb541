#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <exception>

#include "platform/qt/backend.h"
#include "platform/qt/window_form.h"
#include "platform/report.h"

namespace platform::qt {
namespace {

struct Run {
  bool looping = false;
  bool failed = false;
  int status = 0;
  QMessageBox* report = nullptr;
};
Run run;

// Without a screen (the offscreen platform) a message box would wait for a click nobody can
// give.
bool HasScreen() {
  const QString name = QGuiApplication::platformName();
  return name != QLatin1String("offscreen") && name != QLatin1String("minimal");
}

void Fail(const std::string& message) {
  run.failed = true;
  StopAllTimers();
  platform::Report(message);
  RemoveTrayEntries(0);
  if (HasScreen()) {
    // Not modal: a modal box would make the window ignore its close button, and closing the
    // window must end korvi even while the report is on screen.
    QMessageBox box(QMessageBox::Critical, QStringLiteral("korvi"), QString::fromStdString(message),
                    QMessageBox::Ok);
    box.setWindowModality(Qt::NonModal);
    QEventLoop wait;
    QObject::connect(&box, &QDialog::finished, &wait, &QEventLoop::quit);
    run.report = &box;
    box.show();
    wait.exec();
    run.report = nullptr;
  }
  EndRun(1);
}

}  // namespace

bool CallHandler(const std::function<void()>& handler) {
  if (run.failed) return false;
  try {
    handler();
    return true;
  } catch (const std::exception& e) {
    Fail(e.what());
  } catch (...) {
    Fail("an unknown failure");
  }
  return false;
}

void DismissReport() {
  if (run.report != nullptr) run.report->reject();
}

void EndRun(int status) {
  if (!run.failed || status != 0) run.status = status;
  if (run.looping) QCoreApplication::exit(run.status);
}

}  // namespace platform::qt

namespace platform {

int RunForm(Form& form, FormEvents& events) {
  auto& window = dynamic_cast<qt::QtForm&>(form);
  qt::run = {};
  window.Attach(&events);
  if (qt::CallHandler([&events] { events.Form_Load(); })) {
    window.Show();
    window.Ticks().Run(true);
    qt::run.looping = true;
    QCoreApplication::exec();
    qt::run.looping = false;
  }
  window.Ticks().Run(false);
  window.Attach(nullptr);
  const int status = qt::run.failed ? 1 : qt::run.status;
  qt::run = {};
  return status;
}

}  // namespace platform
