#include <QApplication>
#include <QEvent>
#include <QStyleHints>

#include "platform/qt/window_form.h"

namespace platform::qt {

namespace {

// The desktop's blink period, as it was before any rest set it to 0.
int DesktopFlashTime() {
  static const int flash = QApplication::cursorFlashTime();
  return flash;
}

}  // namespace

CaretRest::CaretRest(std::chrono::milliseconds after) : flash_(DesktopFlashTime()) {
  rest_.setSingleShot(true);
  rest_.setInterval(after);
  QObject::connect(&rest_, &QTimer::timeout, [] { QApplication::setCursorFlashTime(0); });
  rest_.start();
  qApp->installEventFilter(this);
}

CaretRest::~CaretRest() {
  QApplication::setCursorFlashTime(flash_);
}

bool CaretRest::eventFilter(QObject* /*watched*/, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::InputMethod:
    case QEvent::WindowActivate:
      if (QApplication::cursorFlashTime() != flash_) QApplication::setCursorFlashTime(flash_);
      rest_.start();
      break;
    default:
      break;
  }
  return false;
}

}  // namespace platform::qt
