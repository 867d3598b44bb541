// Looks at and drives a running korvi.exe from another Windows process under the same Wine
// session, the way a user or the shell would: the end-to-end script's eyes and hands.
//   winctl state             window facts as key=value lines
//   winctl hide | close      hide the window | press its close button
//   winctl minimize | maximize
//   winctl end-session       what the system sends a window when the user logs off
//   winctl move X Y          move the window's frame to pixel X, Y
//   winctl dialog            print korvi's error box text (and whether its window shows),
//                            then press the box's OK button
//   winctl tray-forget       remove korvi's tray entry behind its back, as a crashed shell does
//   winctl taskbar-created   broadcast what a restarted shell broadcasts
//   winctl shell-ready       succeeds once the shell's tray window exists
//   winctl balloons          the balloons the shell shows, one a line: centre X Y, text
//   winctl balloon-click     what the shell sends korvi for a click on its entry's balloon
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

HWND Korvi() {
  return FindWindowW(L"korvi.Form1", nullptr);
}

std::string Utf8(const std::wstring& text) {
  std::string out(text.size() * 4 + 1, '\0');
  out.resize(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                 out.data(), static_cast<int>(out.size()), nullptr, nullptr));
  return out;
}

std::wstring TextOf(HWND window) {
  std::wstring text(32768, L'\0');
  const auto length =
      SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

// One line per value, so CR and LF are shown escaped.
std::string Escaped(const std::wstring& text) {
  std::string out;
  for (char c : Utf8(text)) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

void PrintRect(const char* name, RECT r) {
  std::printf("%s=%ld,%ld,%ld,%ld\n", name, r.left, r.top, r.right, r.bottom);
}

int State(HWND form) {
  const LONG style = GetWindowLongW(form, GWL_STYLE);
  const LONG ex_style = GetWindowLongW(form, GWL_EXSTYLE);
  std::printf("caption=%s\n", Utf8(TextOf(form)).c_str());
  std::printf("visible=%d\n", IsWindowVisible(form) ? 1 : 0);
  std::printf("toolwindow=%d\n", (ex_style & WS_EX_TOOLWINDOW) ? 1 : 0);
  std::printf("sizable=%d\n", (style & WS_THICKFRAME) ? 1 : 0);
  std::printf("minmax=%d\n", (style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) ? 1 : 0);
  std::printf("closebox=%d\n", (style & WS_SYSMENU) ? 1 : 0);
  std::printf(
      "awareness=%d\n",
      static_cast<int>(GetAwarenessFromDpiAwarenessContext(GetWindowDpiAwarenessContext(form))));
  RECT frame;
  GetWindowRect(form, &frame);
  PrintRect("frame", frame);
  RECT client;
  GetClientRect(form, &client);
  MapWindowPoints(form, nullptr, reinterpret_cast<POINT*>(&client), 2);
  PrintRect("client", client);
  // Tab order is the order of the children: the address box first.
  const HWND text1 = FindWindowExW(form, nullptr, L"EDIT", nullptr);
  const HWND text2 = FindWindowExW(form, text1, L"EDIT", nullptr);
  for (const auto& [name, edit] : {std::pair{"text1", text1}, std::pair{"text2", text2}}) {
    RECT box;
    GetWindowRect(edit, &box);
    PrintRect((std::string(name) + "_rect").c_str(), box);
    std::printf("%s=%s\n", name, Escaped(TextOf(edit)).c_str());
  }
  return 0;
}

HWND KorviErrorBox() {
  DWORD korvi_process = 0;
  GetWindowThreadProcessId(Korvi(), &korvi_process);
  for (HWND box = nullptr; (box = FindWindowExW(nullptr, box, L"#32770", nullptr));) {
    DWORD process = 0;
    GetWindowThreadProcessId(box, &process);
    if (process == korvi_process) return box;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string command = argv[1];
  if (command == "shell-ready") return FindWindowW(L"Shell_TrayWnd", nullptr) ? 0 : 1;
  if (command == "balloons") {
    for (HWND tip = nullptr; (tip = FindWindowExW(nullptr, tip, TOOLTIPS_CLASSW, nullptr));) {
      if (RECT r; IsWindowVisible(tip) && (GetWindowLongW(tip, GWL_STYLE) & TTS_BALLOON) &&
                  GetWindowRect(tip, &r))
        std::printf("%ld %ld %s\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2,
                    Escaped(TextOf(tip)).c_str());
    }
    return 0;
  }
  if (command == "taskbar-created") {
    SendNotifyMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    return 0;
  }
  const HWND form = Korvi();
  if (form == nullptr) {
    std::fprintf(stderr, "winctl: no korvi window\n");
    return 3;
  }
  if (command == "state") return State(form);
  if (command == "hide") return ShowWindow(form, SW_HIDE) ? 0 : 1;
  if (command == "minimize" || command == "maximize") {
    ShowWindow(form, command == "minimize" ? SW_MINIMIZE : SW_MAXIMIZE);
    return 0;
  }
  if (command == "close") return PostMessageW(form, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
  if (command == "end-session") {
    if (!SendMessageW(form, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF)) return 1;
    SendMessageW(form, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    return 0;
  }
  if (command == "move" && argc == 4) {
    return SetWindowPos(form, nullptr, std::atoi(argv[2]), std::atoi(argv[3]), 0, 0,
                        SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE)
               ? 0
               : 1;
  }
  if (command == "tray-forget") {
    NOTIFYICONDATAW entry{};
    entry.cbSize = NOTIFYICONDATAW_V1_SIZE;
    entry.hWnd = form;
    entry.uID = 100;
    return Shell_NotifyIconW(NIM_DELETE, &entry) ? 0 : 1;
  }
  if (command == "balloon-click") return PostMessageW(form, 512, 100, NIN_BALLOONUSERCLICK) ? 0 : 1;
  if (command == "dialog") {
    const HWND box = KorviErrorBox();
    if (box == nullptr || !IsWindowVisible(box)) return 1;  // it shows once its text is set
    std::printf("visible=%d\n", IsWindowVisible(form) ? 1 : 0);
    // The message text is the box's static control with the id 0xFFFF.
    std::printf("text=%s\n", Utf8(TextOf(GetDlgItem(box, 0xFFFF))).c_str());
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return 0;
  }
  return 2;
}
