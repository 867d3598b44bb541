#pragma once
// The Win32 window behind platform::Form: a top-level tool window with two EDIT controls and
// a timer, whose window procedure turns messages into the program's handler calls. Twips become
// pixels at the window's own scale (1440 to the logical inch), which follows the monitor it is
// on.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/window.h"

namespace platform {

inline constexpr wchar_t kFormClass[] = L"korvi.Form1";

class EditControl final : public EditBox {
 public:
  explicit EditControl(HWND edit) : edit_(edit) {}
  ~EditControl() override;
  std::wstring Text() const override;
  void SetText(const std::wstring& text) override;
  void SetBackColor(std::uint32_t color) override;

  HWND handle() const { return edit_; }
  // The brush that WM_CTLCOLOREDIT answers with, null until a colour was set.
  HBRUSH Paint(HDC dc) const;

 private:
  HWND edit_;
  COLORREF color_ = 0;
  HBRUSH brush_ = nullptr;
};

class WindowTimer final : public Timer {
 public:
  explicit WindowTimer(HWND window) : window_(window) {}
  std::int32_t Interval() const override { return interval_; }
  void SetInterval(std::int32_t milliseconds) override;

  void SetEnabled(bool enabled);
  void Start();
  void Stop();

 private:
  HWND window_;
  std::int32_t interval_ = 0;
  bool enabled_ = false;
  bool running_ = false;
};

class Win32Form final : public Form {
 public:
  // Lays the window out at its monitor's scale, with the program's own icon.
  Win32Form(HWND window, HWND text1, HWND text2, const FormDesign& design);
  ~Win32Form() override;

  float Top() const override;
  void SetTop(float twips) override;
  float Left() const override;
  void SetLeft(float twips) override;
  std::wstring Caption() const override;
  std::uint32_t Hwnd() const override;
  std::uint32_t Icon() const override;
  void SetIconFromFile(const std::wstring& path) override;
  void Show() override;
  EditBox& Text1() override { return text1_; }
  EditBox& Text2() override { return text2_; }
  Timer& Timer1() override { return timer_; }
  WindowTimer& timer() { return timer_; }

  // Runs the window to its end; see platform::RunForm.
  int Run(FormEvents& events);

  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  template <typename Handler>
  void Call(Handler handler);
  void Fail(std::string message);
  void Close();
  void Place(int left, int top);
  // A window whose title bar would be on no monitor goes wholly onto the nearest one.
  void KeepReachable();
  // The frame where the window sits when neither minimised nor maximised.
  RECT NormalFrame() const;
  float Twips(LONG pixels) const;
  int Pixels(int twips) const;
  // The frame that holds the design's client area at `dpi`.
  SIZE FrameSize(UINT dpi) const;
  // Sizes the window, its boxes, their font and its icons for `dpi`: the frame Windows
  // `proposed` for it, or the design's.
  void Layout(UINT dpi, const RECT* proposed);
  // Both icons from `file` (the program's own icon when there is none) at the window's scale.
  void LoadIcons(const std::optional<std::wstring>& file);

  HWND window_;
  EditControl text1_;
  EditControl text2_;
  WindowTimer timer_;
  int client_width_;  // twips
  int client_height_;
  EditDesign text1_design_;
  EditDesign text2_design_;
  UINT dpi_ = 96;
  std::optional<std::wstring> icon_file_;  // none: the program's own icon
  HICON small_icon_ = nullptr;
  HICON big_icon_ = nullptr;
  HFONT font_ = nullptr;
  FormEvents* events_ = nullptr;
  bool looping_ = false;
  std::optional<std::string> failure_;
  // Reported already, as the session ended.
  bool reported_ = false;
};

// Gives both boxes the font at which the `log` box shows the usual line on one row at `dpi`;
// the caller owns it.
HFONT FitBoxFont(HWND log, HWND address, UINT dpi);

// The icon in the file at `path`, at `size` pixels square; a RuntimeError naming the file, the
// size and the reason when it cannot be loaded.
HICON LoadIconFile(const std::wstring& path, int size);

// Shows a run-time error to the user: on standard error and in a message box.
void ReportRuntimeError(const std::string& message);

}  // namespace platform
