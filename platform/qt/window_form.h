#pragma once
// The tool window behind platform::Form, with its two edit boxes and its timer.

#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "platform/window.h"

class QLineEdit;
class QPlainTextEdit;

namespace platform::qt {

// An edit box is built the first time anything needs it: the window shows, or its text is
// read. Until then it keeps what it was given. Qt's boxes load fonts and lay text out; built
// before the window shows, they would hold back the tray entry that start-up adds.
class QtEditBox final : public EditBox {
 public:
  // `build` builds the form's boxes, this one among them.
  QtEditBox(const EditDesign& design, const char* name, std::function<void()> build);
  std::wstring Text() const override;
  void SetText(const std::wstring& text) override;
  void SetBackColor(std::uint32_t color) override;
  // Builds the Qt box in `parent`, with the text and colour given so far.
  void Build(QWidget* parent);
  // nullptr until built.
  QWidget* Widget() const;

 private:
  void Apply(std::uint32_t color);

  EditDesign design_;
  const char* name_;
  std::function<void()> build_;
  std::wstring text_;
  std::optional<std::uint32_t> color_;
  QLineEdit* line_ = nullptr;
  QPlainTextEdit* log_ = nullptr;
};

class QtTimer final : public Timer {
 public:
  QtTimer(std::int32_t interval, bool enabled);
  std::int32_t Interval() const override { return interval_; }
  void SetInterval(std::int32_t milliseconds) override;
  // The timer ticks only while the window runs, from after its load handler on.
  void Run(bool running);
  QTimer& Ticker() { return timer_; }

 private:
  void Apply();
  QTimer timer_;
  std::int32_t interval_;
  bool enabled_;
  bool running_ = false;
};

// A blinking caret wakes the program twice a second for as long as its window has the focus.
// As on GTK desktops, the caret stops blinking (and stays shown) once no key, click or
// activation came for `after`, and blinks again with the next one.
class CaretRest final : public QObject {
 public:
  explicit CaretRest(std::chrono::milliseconds after = std::chrono::seconds(10));
  ~CaretRest() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int flash_;
  QTimer rest_;
};

class QtForm final : public Form {
 public:
  explicit QtForm(const FormDesign& design);
  ~QtForm() override;

  float Top() const override;
  void SetTop(float twips) override;
  float Left() const override;
  void SetLeft(float twips) override;
  std::wstring Caption() const override;
  std::uint32_t Hwnd() const override { return hwnd_; }
  std::uint32_t Icon() const override { return icon_; }
  void SetIconFromFile(const std::wstring& path) override;
  void Show() override;
  EditBox& Text1() override { return *text1_; }
  EditBox& Text2() override { return *text2_; }
  Timer& Timer1() override { return *timer_; }

  // The run's side: events go to `events` from now on (nullptr: nowhere).
  void Attach(FormEvents* events) { events_ = events; }
  QtTimer& Ticks() { return *timer_; }
  QWidget& Window() { return *window_; }
  void Deliver(std::uint32_t message, std::uint32_t param);
  // The user asked to close the window; false keeps it open.
  bool Closing();
  // The window moved, or its frame came or changed.
  void Moved();

 private:
  void Place(QPoint frame);
  // Takes in what the window system did to the window up to now (its last move).
  void CatchUpWithWindowSystem();
  // A window whose title bar would be on no screen goes wholly onto the nearest one.
  void KeepReachable();
  void SetIcon(const QIcon& icon);
  void BuildBoxes();

  std::unique_ptr<QWidget> window_;
  std::unique_ptr<QtEditBox> text1_;
  std::unique_ptr<QtEditBox> text2_;
  std::unique_ptr<QtTimer> timer_;
  CaretRest caret_;
  bool text1_first_ = true;
  bool built_ = false;
  // The place chosen before the window manager framed the window, to fit again with the frame.
  std::optional<QPoint> fit_when_framed_;
  // Where the program put the window: all that can be read back where positions are unknown.
  float asked_top_ = 0;
  float asked_left_ = 0;
  FormEvents* events_ = nullptr;
  std::uint32_t hwnd_ = 0;
  std::uint32_t icon_ = 0;
};

// A failure stops the ticks of every window at once.
void StopAllTimers();

// The live windows by handle: tray messages and failures reach them through it.
std::map<std::uint32_t, QtForm*>& Forms();

// False where the platform tells no program where its window is (Wayland): the position
// reads back as the program set it, and the window goes wherever the compositor puts it.
bool PositionKnown();

// Keeps the window out of the task bar and the pager.
void SkipTaskBar(WId window);
// Where the X server has the window's client area now, in device pixels from the screen's
// corner; nullopt off X.
std::optional<QPoint> ServerPosition(WId window);

// A size or a place of the design, in pixels.
inline int DesignPixels(int twips) {
  return static_cast<int>(std::lround(twips / double(kTwipsPerPixel)));
}

}  // namespace platform::qt
