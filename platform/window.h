#pragma once
// The windowing services: one top-level tool window with two edit boxes and a periodic timer,
// the program's event loop, and the few facts about the process that the window needs.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

namespace platform {

// A failure that a handler cannot recover from. The platform reports it to the user (in a
// message box where a display exists, and on standard error) and ends the program with a
// non-zero exit status. The message names what failed and where.
class RuntimeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The design is laid out in twips: 1440 to the logical inch, so 15 to the pixel at the standard
// 96 pixels to the inch (as the tray's mouse codes always count them), 10 at 144.
inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kTwipsPerPixel = 15;

// A log line of the usual width, a time and a five-digit status: the boxes' font is one at
// which it fits one row of the log box.
inline constexpr char kUsualLogLine[] = "10:51:41 :  11010";

struct EditDesign {
  int left = 0;  // twips, relative to the client area
  int top = 0;
  int width = 0;
  int height = 0;
  int tab_index = 0;
  bool multi_line = false;
  bool vertical_scroll_bar = false;
};

struct FormDesign {
  std::wstring caption;
  int client_width = 0;  // twips
  int client_height = 0;
  EditDesign text1;
  EditDesign text2;
  std::int32_t timer_interval = 0;  // milliseconds
  bool timer_enabled = false;
};

class EditBox {
 public:
  virtual ~EditBox() = default;
  virtual std::wstring Text() const = 0;
  virtual void SetText(const std::wstring& text) = 0;
  // `color` is red + 256 * green + 65536 * blue, each component 0 to 255.
  virtual void SetBackColor(std::uint32_t color) = 0;
};

class Timer {
 public:
  virtual ~Timer() = default;
  virtual std::int32_t Interval() const = 0;
  // 0 stops the ticks. A negative interval is refused with a RuntimeError.
  virtual void SetInterval(std::int32_t milliseconds) = 0;
};

// The program's handlers for its window's events.
class FormEvents {
 public:
  virtual ~FormEvents() = default;
  // Once, before the window is first shown.
  virtual void Form_Load() = 0;
  // Once, when the user closes the window; leaving `cancel` at 0 lets it close.
  virtual void Form_Unload(std::int16_t& cancel) = 0;
  virtual void Timer1_Timer() = 0;
  // Mouse activity; the tray entry's callback message arrives here with x = code * 15.
  virtual void Form_MouseMove(std::int16_t button, std::int16_t shift, float x, float y) = 0;
};

class Form {
 public:
  virtual ~Form() = default;
  // Position of the window's outer frame on the screen, in twips: its normal (restored) place,
  // also while it is minimised or maximised. Setting a position that the screen cannot hold is
  // refused with a RuntimeError. Where the platform cannot tell a window's position (Wayland),
  // it reads back as last set.
  virtual float Top() const = 0;
  virtual void SetTop(float twips) = 0;
  virtual float Left() const = 0;
  virtual void SetLeft(float twips) = 0;
  virtual std::wstring Caption() const = 0;
  // The window's handle: its native window id.
  virtual std::uint32_t Hwnd() const = 0;
  // The handle of the window's current icon, as the notification area takes it.
  virtual std::uint32_t Icon() const = 0;
  // Makes the icon in the file at `path` the window's icon; a RuntimeError naming the file
  // when it cannot be loaded as an icon.
  virtual void SetIconFromFile(const std::wstring& path) = 0;
  // Makes the window visible, restored and in front. A window whose title bar would be on no
  // screen (placed where a monitor used to be) comes up wholly on the nearest screen instead,
  // and its position reads back as that place.
  virtual void Show() = 0;
  virtual EditBox& Text1() = 0;
  virtual EditBox& Text2() = 0;
  virtual Timer& Timer1() = 0;
};

// The process-wide state of the windowing services; exactly one lives for the whole run,
// created first thing in main.
class Application {
 public:
  Application(int& argc, char** argv);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

std::unique_ptr<Form> CreateForm(const FormDesign& design);

// Loads the icon file at `path` as Form::SetIconFromFile does, without showing it anywhere: a
// RuntimeError naming the file when it cannot be loaded as an icon.
void CheckIconFile(const std::wstring& path);

// Runs the window to its end: Form_Load, then show and tick until the user closes it and
// Form_Unload ran. A RuntimeError from any handler is reported and ends the run. Returns the
// program's exit status.
int RunForm(Form& form, FormEvents& events);

// The directory that holds the executable, without a guaranteed trailing separator.
std::wstring AppPath();
// The separator that ends a directory in a path: '/' on Linux, '\' on Windows.
wchar_t PathSeparator();

struct TimeOfDay {
  int hour = 0;
  int minute = 0;
  int second = 0;
};
TimeOfDay CurrentTimeOfDay();

// A window property read by its name, as late-bound code reads it: "Caption" as text, "hwnd"
// and "Icon" as 32-bit handles. Names match without regard to case; any other name is a
// RuntimeError.
using PropertyValue = std::variant<std::wstring, std::int32_t>;
PropertyValue GetProperty(const Form& form, std::wstring_view name);

}  // namespace platform
