// The window contract's view of the Qt backend.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>
#include <cstdio>

#include "platform/qt/backend.h"
#include "platform/qt/window_form.h"
#include "tests/platform/window_contract.h"
#include "tests/support/files.h"

namespace window_contract {
namespace {

QWidget& WindowOf(platform::Form& form) {
  return dynamic_cast<platform::qt::QtForm&>(form).Window();
}

Box BoxOf(QWidget* widget) {
  if (widget == nullptr) return {};
  const QRect r = widget->geometry();
  auto* log = qobject_cast<QPlainTextEdit*>(widget);
  return {r.x(),
          r.y(),
          r.x() + r.width(),
          r.y() + r.height(),
          log != nullptr,
          log != nullptr && log->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn};
}

}  // namespace

const bool kExplainsIconFailures = true;

NativeWindow Inspect(platform::Form& form) {
  QWidget& window = WindowOf(form);
  const Qt::WindowFlags flags = window.windowFlags();
  NativeWindow native;
  native.client_width = window.width();
  native.client_height = window.height();
  native.tool_window = (flags & Qt::WindowType_Mask) == Qt::Tool;
  native.sizable = window.minimumSize() != window.maximumSize();
  native.close_button = flags.testFlag(Qt::WindowCloseButtonHint);
  native.minimize_or_maximize =
      flags.testAnyFlags(Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
  native.text1 = BoxOf(window.findChild<QLineEdit*>("Text1"));
  native.text2 = BoxOf(window.findChild<QPlainTextEdit*>("Text2"));
  for (QWidget* w = window.nextInFocusChain(); w != &window; w = w->nextInFocusChain()) {
    if (w->objectName().startsWith("Text"))
      native.tab_order.push_back(w->objectName().toStdString());
  }
  return native;
}

std::uint32_t LogBackColor(platform::Form& form) {
  auto* log = WindowOf(form).findChild<QPlainTextEdit*>("Text2");
  const QColor c = log->viewport()->palette().color(QPalette::Base);
  return static_cast<std::uint32_t>(c.red() + 256 * c.green() + 65536 * c.blue());
}

std::wstring Asset(const char* name) {
  return QString(KORVI_ASSETS "/%1").arg(QLatin1String(name)).toStdWString();
}

void PressClose(platform::Form& form, int after_ms) {
  QWidget* window = &WindowOf(form);
  QTimer::singleShot(after_ms, window, [window] { window->close(); });
}

void SendTrayMessage(platform::Form& form, std::uint32_t message, std::uint32_t code) {
  const std::uint32_t hwnd = form.Hwnd();
  QTimer::singleShot(0, &WindowOf(form), [hwnd, message, code] {
    platform::qt::DeliverWindowMessage(hwnd, message, code);
  });
}

Outcome RunAnswering(platform::Form& form, platform::FormEvents& events) {
  Outcome outcome;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    // The report is not modal: a close of the window must still reach it.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box == nullptr || !box->isVisible()) continue;
      outcome.box = box->text().toStdString();
      box->accept();
    }
  });
  answer.start(20);
  std::fflush(stderr);
  char path[] = "/tmp/korvi-stderr-XXXXXX";
  const int file = mkstemp(path);
  const int saved = dup(2);
  dup2(file, 2);
  outcome.status = platform::RunForm(form, events);
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  close(file);
  outcome.standard_error = ReadBytes(path).value_or("");
  unlink(path);
  return outcome;
}

}  // namespace window_contract
