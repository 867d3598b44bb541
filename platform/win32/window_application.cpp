#include <windows.h>

#include <memory>
#include <string>

#include "platform/win32/last_error.h"
#include "platform/win32/window_form.h"
#include "platform/window.h"

namespace platform {
namespace {

constexpr int kText1Id = 1;
constexpr int kText2Id = 2;
// IDC_ARROW, in the wide form that the W calls take.
const auto kArrowCursor = MAKEINTRESOURCEW(32512);

LRESULT CALLBACK FormProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  // The design is smaller than the system's smallest captioned window.
  if (message == WM_GETMINMAXINFO) {
    reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = {1, 1};
    return 0;
  }
  auto* form = reinterpret_cast<Win32Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  return form->Handle(message, wparam, lparam);
}

// Placed and sized by the form, at its scale.
HWND CreateEdit(HWND parent, const EditDesign& design, int id) {
  DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS;
  style |= design.multi_line ? ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN : ES_AUTOHSCROLL;
  if (design.vertical_scroll_bar) style |= WS_VSCROLL;
  return CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", style, 0, 0, 0, 0, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

struct Application::Impl {
  ATOM form_class = 0;
};

Application::Application(int& /*argc*/, char** /*argv*/) : impl_(std::make_unique<Impl>()) {
  WNDCLASSEXW form_class{};
  form_class.cbSize = sizeof form_class;
  form_class.lpfnWndProc = FormProcedure;
  form_class.hInstance = GetModuleHandleW(nullptr);
  form_class.hCursor = LoadCursorW(nullptr, kArrowCursor);
  form_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  form_class.lpszClassName = kFormClass;
  impl_->form_class = RegisterClassExW(&form_class);
  if (impl_->form_class == 0) {
    throw RuntimeError("cannot register the window class: " + LastErrorText(GetLastError()));
  }
}

Application::~Application() {
  UnregisterClassW(kFormClass, GetModuleHandleW(nullptr));
}

std::unique_ptr<Form> CreateForm(const FormDesign& design) {
  // A fixed tool window: caption and close button only, kept out of the task bar.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD ex_style = WS_EX_TOOLWINDOW;
  const HWND window = CreateWindowExW(ex_style, kFormClass, design.caption.c_str(), style, 0, 0, 0,
                                      0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr) {
    throw RuntimeError("cannot create the window: " + LastErrorText(GetLastError()));
  }
  // Creation order is tab order.
  const bool text1_first = design.text1.tab_index <= design.text2.tab_index;
  HWND text1 = nullptr;
  HWND text2 = nullptr;
  if (text1_first) text1 = CreateEdit(window, design.text1, kText1Id);
  text2 = CreateEdit(window, design.text2, kText2Id);
  if (!text1_first) text1 = CreateEdit(window, design.text1, kText1Id);

  auto form = std::make_unique<Win32Form>(window, text1, text2, design);
  form->timer().SetInterval(design.timer_interval);
  form->timer().SetEnabled(design.timer_enabled);
  return form;
}

int RunForm(Form& form, FormEvents& events) {
  // Every Form here came from CreateForm.
  return static_cast<Win32Form&>(form).Run(events);
}

std::wstring AppPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos) return {};
  // A drive root keeps its backslash: "C:\".
  return path.substr(0, slash == 2 && path[1] == L':' ? slash + 1 : slash);
}

wchar_t PathSeparator() {
  return L'\\';
}

TimeOfDay CurrentTimeOfDay() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wHour, now.wMinute, now.wSecond};
}

}  // namespace platform
