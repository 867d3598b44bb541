#include "tests/win32/window_test_support.h"

#include <chrono>
#include <cstdint>
#include <utility>

#include "platform/ansi.h"

namespace win32_test {

HWND Native(const platform::Form& form) {
  return reinterpret_cast<HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(form.Hwnd())));
}

void RecordingEvents::Form_Load() {
  ++loads;
  if (on_load) on_load();
}

void RecordingEvents::Form_Unload(std::int16_t& cancel) {
  ++unloads;
  if (on_unload) on_unload(cancel);
}

void RecordingEvents::Timer1_Timer() {
  ++ticks;
  if (on_tick) on_tick(ticks);
}

void RecordingEvents::Form_MouseMove(std::int16_t, std::int16_t, float x, float) {
  mouse_x.push_back(x);
}

void PressClose(HWND window) {
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

ErrorBoxWatcher::ErrorBoxWatcher(HWND window, std::function<void()> at_box)
    : window_(window), at_box_(std::move(at_box)) {
  thread_ = std::thread([this] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (const HWND box = FindWindowW(L"#32770", L"korvi")) {
        window_was_visible_ = IsWindowVisible(window_) != FALSE;
        wchar_t text[1024] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 1024);
        text_ = platform::ToAnsi(text);
        if (at_box_) at_box_();
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return;
      }
      Sleep(20);
    }
  });
}

ErrorBoxWatcher::~ErrorBoxWatcher() {
  if (thread_.joinable()) thread_.join();
}

std::string ErrorBoxWatcher::Text() {
  if (thread_.joinable()) thread_.join();
  return text_;
}

}  // namespace win32_test
