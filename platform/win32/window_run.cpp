#include <string>
#include <utility>

#include "platform/report.h"
#include "platform/win32/last_error.h"
#include "platform/win32/tray_entries.h"
#include "platform/win32/window_form.h"

namespace platform {
namespace {

std::int16_t MouseButtons(WPARAM keys) {
  return static_cast<std::int16_t>(((keys & MK_LBUTTON) ? 1 : 0) | ((keys & MK_RBUTTON) ? 2 : 0) |
                                   ((keys & MK_MBUTTON) ? 4 : 0));
}

std::int16_t ShiftKeys(WPARAM keys) {
  return static_cast<std::int16_t>(((keys & MK_SHIFT) ? 1 : 0) | ((keys & MK_CONTROL) ? 2 : 0) |
                                   ((GetKeyState(VK_MENU) < 0) ? 4 : 0));
}

}  // namespace

void ReportRuntimeError(const std::string& message) {
  Report(message);
  MessageBoxW(nullptr, Utf16(message).c_str(), L"korvi", MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

// A handler's exception must not unwind through the system's message dispatch: it is kept,
// the window goes quiet, and Run reports it once the message loop has ended.
template <typename Handler>
void Win32Form::Call(Handler handler) {
  if (events_ == nullptr || failure_) return;
  try {
    handler();
  } catch (const std::exception& e) {
    Fail(e.what());
  } catch (...) {
    Fail("an unknown error");
  }
}

void Win32Form::Fail(std::string message) {
  failure_ = std::move(message);
  timer_.Stop();
  ShowWindow(window_, SW_HIDE);
  // A quit message left in the queue would close the error box at once.
  if (looping_) PostQuitMessage(1);
}

void Win32Form::Close() {
  std::int16_t cancel = 0;
  Call([&] { events_->Form_Unload(cancel); });
  if (failure_ || cancel != 0) return;
  timer_.Stop();
  DestroyWindow(window_);
}

int Win32Form::Run(FormEvents& events) {
  events_ = &events;
  Call([&] { events.Form_Load(); });
  if (!failure_) {
    KeepReachable();
    ShowWindow(window_, SW_SHOWNORMAL);
    SetForegroundWindow(window_);
    SetFocus(text1_.handle());
    timer_.Start();
    looping_ = true;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      // Lets Tab move between the two boxes.
      if (IsDialogMessageW(window_, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    looping_ = false;
  }
  timer_.Stop();
  events_ = nullptr;
  // An ending program leaves no entry behind, not even while its error is on screen.
  RemoveTrayEntries();
  if (!failure_) return 0;
  if (!reported_) ReportRuntimeError(*failure_);
  return 1;
}

LRESULT Win32Form::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CTLCOLOREDIT: {
      const auto edit = reinterpret_cast<HWND>(lparam);
      const auto dc = reinterpret_cast<HDC>(wparam);
      HBRUSH brush = nullptr;
      if (edit == text1_.handle()) brush = text1_.Paint(dc);
      if (edit == text2_.handle()) brush = text2_.Paint(dc);
      if (brush) return reinterpret_cast<LRESULT>(brush);
      break;
    }
    case WM_TIMER:
      Call([&] { events_->Timer1_Timer(); });
      return 0;
    case WM_MOUSEMOVE: {
      // The tray entry's callback arrives as this message with the mouse code where a
      // move carries its x; both become twips alike.
      auto x = static_cast<short>(LOWORD(lparam));
      const auto y = static_cast<short>(HIWORD(lparam));
      // A click on the entry's balloon is a click on the entry.
      if (x == NIN_BALLOONUSERCLICK) x = WM_LBUTTONUP;
      Call([&] {
        events_->Form_MouseMove(MouseButtons(wparam), ShiftKeys(wparam),
                                static_cast<float>(x * kTwipsPerPixel),
                                static_cast<float>(y * kTwipsPerPixel));
      });
      return 0;
    }
    case WM_CLOSE:
      if (events_ == nullptr) break;
      Close();
      return 0;
    case WM_GETDPISCALEDSIZE: {
      // Windows proposes the frame for the new scale from this size.
      *reinterpret_cast<SIZE*>(lparam) = FrameSize(LOWORD(wparam));
      return TRUE;
    }
    case WM_DPICHANGED:
      try {
        Layout(LOWORD(wparam), reinterpret_cast<const RECT*>(lparam));
      } catch (const std::exception& e) {
        // The icon file went bad since start-up; before the run, the old icons stay.
        if (events_ != nullptr && !failure_) Fail(e.what());
      }
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // The process may be ended as soon as this returns: the window closes now, as at the
      // close button, and a failure is reported before the session goes.
      if (wparam != FALSE && events_ != nullptr) {
        Close();
        if (failure_) ReportRuntimeError(*failure_);
        reported_ = failure_.has_value();
      }
      return 0;
    case WM_DESTROY:
      if (looping_ && !failure_) PostQuitMessage(0);
      return 0;
    default:
      if (message == TaskbarCreatedMessage()) {
        ReAddTrayEntries(window_);
        return 0;
      }
      break;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}

}  // namespace platform
