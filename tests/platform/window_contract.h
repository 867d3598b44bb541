#pragma once
// The window contract that every backend keeps (window_contract_test.cpp), and what its table
// needs to see of a backend's native window: each backend's tests implement the probe below
// (tests/platform/window_probe_qt.cpp, tests/win32/window_probe.cpp).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/window.h"

namespace window_contract {

// Handlers that count their calls and run what a test gives them.
class RecordingEvents : public platform::FormEvents {
 public:
  std::function<void()> on_load;
  std::function<void(int tick)> on_tick;
  std::function<void(std::int16_t& cancel)> on_unload;

  void Form_Load() override {
    ++loads;
    if (on_load) on_load();
  }
  void Form_Unload(std::int16_t& cancel) override {
    ++unloads;
    if (on_unload) on_unload(cancel);
  }
  void Timer1_Timer() override {
    ++ticks;
    if (on_tick) on_tick(ticks);
  }
  void Form_MouseMove(std::int16_t, std::int16_t, float x, float) override { mouse_x.push_back(x); }

  int loads = 0;
  int unloads = 0;
  int ticks = 0;
  std::vector<float> mouse_x;
};

// An edit box in pixels of the client area, right and bottom exclusive.
struct Box {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool multi_line = false, vertical_scroll_bar = false;
  bool operator==(const Box&) const = default;
};

// The shown window as the system has it.
struct NativeWindow {
  int client_width = 0, client_height = 0;
  bool tool_window = false, sizable = false, close_button = false, minimize_or_maximize = false;
  Box text1;
  Box text2;
  std::vector<std::string> tab_order;  // "Text1", "Text2" in the order Tab visits them
};
NativeWindow Inspect(platform::Form& form);

// The colour the log box paints its background with: red + 256 * green + 65536 * blue.
std::uint32_t LogBackColor(platform::Form& form);

// A shipped icon file, as the backend's tests find it.
std::wstring Asset(const char* name);

// The close button pressed, from the window's event loop, `after_ms` from now.
void PressClose(platform::Form& form, int after_ms = 0);

// The tray entry's callback `message` with the mouse `code`, as the tray delivers it.
void SendTrayMessage(platform::Form& form, std::uint32_t message, std::uint32_t code);

// A run that ends on a handler's error: its status, what went to standard error, and the
// text of the error box, which is answered as a user would.
struct Outcome {
  int status = 0;
  std::string standard_error;
  std::string box;
};
Outcome RunAnswering(platform::Form& form, platform::FormEvents& events);

// Whether an icon that cannot be loaded is explained in the backend's own words (the system's
// loader on Windows gives no reason of its own).
extern const bool kExplainsIconFailures;

}  // namespace window_contract
