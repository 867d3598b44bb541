#include "platform/qt/window_form.h"

namespace platform::qt {

QtTimer::QtTimer(std::int32_t interval, bool enabled) : interval_(interval), enabled_(enabled) {}

void QtTimer::SetInterval(std::int32_t milliseconds) {
  if (milliseconds < 0) {
    throw RuntimeError("a timer interval must be 0 (stopped) or a positive number of ms");
  }
  interval_ = milliseconds;
  Apply();
}

void QtTimer::Run(bool running) {
  running_ = running;
  Apply();
}

void QtTimer::Apply() {
  if (running_ && enabled_ && interval_ > 0) {
    timer_.start(interval_);
  } else {
    timer_.stop();
  }
}

}  // namespace platform::qt
