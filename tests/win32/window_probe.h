#pragma once
// What the tests of the Win32 window need around it, beyond the window contract's probe: the
// native handle, the close button, and a second thread that reads and dismisses the run-time
// error box as a user would.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "platform/window.h"

namespace win32_test {

HWND Native(const platform::Form& form);

// Presses the close button of `window` from the message queue, as the user's click does.
void PressClose(HWND window);

// Waits (at most 10 s) for the program's error box on this process, keeps its text and
// whether the window was visible at that moment, runs `at_box`, and presses OK.
class ErrorBoxWatcher {
 public:
  explicit ErrorBoxWatcher(HWND window, std::function<void()> at_box = {});
  ~ErrorBoxWatcher();
  // Joins the watcher; the box's text, or "" when none appeared.
  std::string Text();
  bool window_was_visible() const { return window_was_visible_; }

 private:
  HWND window_;
  std::function<void()> at_box_;
  std::atomic<bool> window_was_visible_{false};
  std::string text_;
  std::thread thread_;
};

}  // namespace win32_test
