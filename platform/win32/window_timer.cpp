#include <string>

#include "platform/win32/window_form.h"

namespace platform {
namespace {

constexpr UINT_PTR kTimerId = 1;

}  // namespace

void WindowTimer::SetInterval(std::int32_t milliseconds) {
  if (milliseconds < 0) {
    throw RuntimeError("the timer cannot tick every " + std::to_string(milliseconds) + " ms");
  }
  interval_ = milliseconds;
  if (running_) Start();
}

void WindowTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
}

void WindowTimer::Start() {
  running_ = true;
  if (enabled_ && interval_ > 0) {
    SetTimer(window_, kTimerId, static_cast<UINT>(interval_), nullptr);
  } else {
    KillTimer(window_, kTimerId);
  }
}

void WindowTimer::Stop() {
  running_ = false;
  KillTimer(window_, kTimerId);
}

}  // namespace platform
