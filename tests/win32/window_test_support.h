#pragma once
// What the window tests need around a real Win32 window: handlers that record their calls,
// and a second thread that reads and dismisses the run-time error box as a user would.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/window.h"

namespace win32_test {

HWND Native(const platform::Form& form);

class RecordingEvents : public platform::FormEvents {
 public:
  std::function<void()> on_load;
  std::function<void(int tick)> on_tick;
  std::function<void(std::int16_t& cancel)> on_unload;

  void Form_Load() override;
  void Form_Unload(std::int16_t& cancel) override;
  void Timer1_Timer() override;
  void Form_MouseMove(std::int16_t button, std::int16_t shift, float x, float y) override;

  int loads = 0;
  int unloads = 0;
  int ticks = 0;
  std::vector<float> mouse_x;
};

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
